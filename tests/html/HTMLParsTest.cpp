#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "html/HTMLPars.h"

namespace {

using TParamList = std::vector<std::pair<std::string, std::string>>;

// Tokenises the given lines.
class Doc {
public:
    explicit Doc(std::initializer_list<std::string_view> lines)
    {
        for (std::string_view l : lines)
            Parser.Lines.Add(l);
        Parser.Execute();
    }
    std::size_t Count() const { return Parser.Nodes.Count(); }
    const THTMLTag& Tag(std::size_t i) const
    {
        static const THTMLTag none;
        const THTMLTag* t = i < Count() ? Parser.Nodes[i]->AsTag() : nullptr;
        EXPECT_NE(t, nullptr) << "node " << i << " is no tag";
        return t ? *t : none;
    }
    const THTMLText& Text(std::size_t i) const
    {
        static const THTMLText none;
        const THTMLText* t = i < Count() ? Parser.Nodes[i]->AsText() : nullptr;
        EXPECT_NE(t, nullptr) << "node " << i << " is no text";
        return t ? *t : none;
    }
    THTMLParser Parser;
};

TParamList Params(const THTMLTag& tag)
{
    TParamList out;
    for (const THTMLParam& p : tag.Params())
        out.emplace_back(p.Name(), p.Value());
    return out;
}

std::string Decode(std::string_view s)
{
    TNodeArena store;
    THTMLText text;
    text.DecodeText(s, store);
    EXPECT_EQ(text.Raw(), s);
    return std::string(text.Text());
}

TEST(HTMLParser, TagsWithAttributes)
{
    Doc d({"<IMG SRC=a.gif ALT=x>"});
    ASSERT_EQ(d.Count(), 1u);
    EXPECT_EQ(d.Tag(0).Name(), "IMG");
    EXPECT_EQ(d.Tag(0).Raw(), "IMG SRC=a.gif ALT=x");
    EXPECT_EQ(Params(d.Tag(0)), (TParamList{{"SRC", "a.gif"}, {"ALT", "x"}}));

    // Names are folded to upper case, values keep theirs; runs of spaces
    // between attributes give no empty attributes.
    Doc lower({"<a   href=\"Page.HTML\"   target=_top  >"});
    EXPECT_EQ(lower.Tag(0).Name(), "A");
    EXPECT_EQ(Params(lower.Tag(0)), (TParamList{{"HREF", "Page.HTML"}, {"TARGET", "_top"}}));
    EXPECT_EQ(lower.Tag(0).Params()[0].Key(), "HREF");
    EXPECT_EQ(lower.Tag(0).Params()[0].Raw(), "href=\"Page.HTML\"");
}

TEST(HTMLParser, GreaterThanInsideQuotesEndsTheTag)
{
    Doc d({"<img alt=\"a>b\" src=x.gif>"});
    ASSERT_EQ(d.Count(), 3u);
    EXPECT_EQ(Params(d.Tag(0)), (TParamList{{"ALT", "\"a"}}));
    // The second ">" outside a tag makes a nameless tag at once; the text
    // before it is flushed at the end.
    EXPECT_EQ(d.Tag(1).Name(), "");
    EXPECT_TRUE(d.Tag(1).Params().empty());
    EXPECT_EQ(d.Text(2).Text(), "b\" src=x.gif ");
}

TEST(HTMLParser, TagsAcrossLines)
{
    // Lines inside a tag are joined without a separator.
    Doc joined({"<img", "src=a.gif>"});
    ASSERT_EQ(joined.Count(), 1u);
    EXPECT_EQ(joined.Tag(0).Name(), "IMGSRC=A.GIF");
    EXPECT_TRUE(joined.Tag(0).Params().empty());

    Doc quoted({"<img src=\"a.gif\"", "width=10>"});
    ASSERT_EQ(quoted.Count(), 1u);
    EXPECT_EQ(Params(quoted.Tag(0)), (TParamList{{"SRC", "\"a.gif\"width=10"}}));
}

TEST(HTMLParser, CommentsAndStrayGreaterThan)
{
    Doc comment({"<!-- x -->"});
    EXPECT_EQ(comment.Tag(0).Name(), "!--");
    EXPECT_EQ(Params(comment.Tag(0)), (TParamList{{"X", ""}, {"--", ""}}));

    // The stray tag comes first; the text before it is flushed later together
    // with the text after it.
    Doc stray({"a > b"});
    ASSERT_EQ(stray.Count(), 2u);
    EXPECT_EQ(stray.Tag(0).Name(), "");
    EXPECT_EQ(stray.Tag(0).Raw(), "");
    EXPECT_EQ(stray.Text(1).Text(), "a b ");
    EXPECT_EQ(stray.Text(1).Raw(), "a  b\n");
}

TEST(HTMLParser, TextNodes)
{
    Doc empty({});
    EXPECT_EQ(empty.Count(), 0u);

    Doc plain({"one", "two  three", "four"});
    ASSERT_EQ(plain.Count(), 1u);
    EXPECT_EQ(plain.Text(0).Text(), "one two three four ");
    EXPECT_EQ(plain.Text(0).Raw(), "one\ntwo  three\nfour\n");

    // A text ends at "<"; a line that ends right after a tag adds no line feed,
    // so tags on lines of their own have no text between them.
    Doc tags({"<p>", "<br>", "x<b>y</b>", ""});
    ASSERT_EQ(tags.Count(), 6u);
    EXPECT_EQ(tags.Tag(0).Name(), "P");
    EXPECT_EQ(tags.Tag(1).Name(), "BR");
    EXPECT_EQ(tags.Text(2).Raw(), "x");
    EXPECT_EQ(tags.Tag(3).Name(), "B");
    EXPECT_EQ(tags.Text(4).Raw(), "y");
    EXPECT_EQ(tags.Tag(5).Name(), "/B");
}

TEST(HTMLParser, UnclosedAndRepeatedOpeners)
{
    // A "<" inside a tag is dropped.
    Doc twice({"<<a<b>"});
    ASSERT_EQ(twice.Count(), 1u);
    EXPECT_EQ(twice.Tag(0).Raw(), "ab");

    Doc unclosed({"text", "<img src=a.gif"});
    ASSERT_EQ(unclosed.Count(), 2u);
    EXPECT_EQ(unclosed.Text(0).Raw(), "text\n");
    EXPECT_EQ(unclosed.Tag(1).Name(), "IMG");
    EXPECT_EQ(Params(unclosed.Tag(1)), (TParamList{{"SRC", "a.gif"}}));

    // An unclosed tag without characters is dropped.
    Doc bare({"x<"});
    ASSERT_EQ(bare.Count(), 1u);
    EXPECT_EQ(bare.Text(0).Raw(), "x");
    Doc empty({"<>"});
    ASSERT_EQ(empty.Count(), 1u);
    EXPECT_EQ(empty.Tag(0).Name(), "");
}

TEST(HTMLParser, OnlySpaceEndsTheName)
{
    Doc d({"<br/><img\tsrc=a.gif><a\nb>"});
    EXPECT_EQ(d.Tag(0).Name(), "BR/");
    EXPECT_EQ(d.Tag(1).Name(), "IMG\tSRC=A.GIF");
    EXPECT_EQ(d.Tag(2).Name(), "A\nB");
}

TEST(HTMLParser, ExecuteAppendsAndClearFrees)
{
    THTMLParser p;
    p.Lines.Add("<a href=x.html>");
    p.Execute();
    p.Execute();
    ASSERT_EQ(p.Nodes.Count(), 2u);
    EXPECT_EQ(p.Nodes[1]->AsTag()->Params()[0].Value(), "x.html");

    // Clearing frees the nodes; the next document of the same size reuses
    // the storage instead of growing it.
    std::string big;
    for (int i = 0; i < 20000; ++i)
        big += "<img src=\"pictures/x.gif\" alt=\"a picture\">text &amp; more ";
    p.Lines.Clear();
    p.Lines.Add(big);
    p.Nodes.Clear();
    p.Execute();
    ASSERT_EQ(p.Nodes.Count(), 40000u);
    const std::size_t used = p.Nodes.Store().Capacity();
    p.Nodes.Clear();
    EXPECT_EQ(p.Nodes.Count(), 0u);
    p.Execute();
    EXPECT_EQ(p.Nodes.Store().Capacity(), used);
    EXPECT_EQ(p.Nodes[39999]->AsText()->Text(), "text & more ");
}

TEST(NodeArena, AlignsAndBoundsWhatItKeeps)
{
    TNodeArena store;
    for (int i = 0; i < 100; ++i) {
        store.AllocateChars(1 + i % 3);
        void* p = store.Allocate(24, 8);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 8, 0u);
    }
    for (int i = 0; i < 100; ++i)
        ASSERT_NE(store.Allocate(1 << 20, 16), nullptr);
    EXPECT_GE(store.Capacity(), 100u << 20);
    store.Clear();
    EXPECT_LE(store.Capacity(), TNodeArena::kRetainedBytes);
    EXPECT_EQ(store.Allocate(0, 1), nullptr);
}

TEST(HTMLParam, Splitting)
{
    TNodeArena store;
    auto parse = [&](std::string_view piece) {
        THTMLParam p;
        p.ParseParam(piece, store);
        EXPECT_EQ(p.Raw(), piece);
        return std::make_pair(std::string(p.Name()), std::string(p.Value()));
    };
    using P = std::pair<std::string, std::string>;
    EXPECT_EQ(parse("src=a=b"), (P{"SRC", "a=b"}));
    EXPECT_EQ(parse("alt=\"\""), (P{"ALT", ""}));
    EXPECT_EQ(parse("alt=\""), (P{"ALT", "\""}));
    EXPECT_EQ(parse("alt='x'"), (P{"ALT", "'x'"}));
    EXPECT_EQ(parse("src=\"x\"/"), (P{"SRC", "\"x\"/"}));
    EXPECT_EQ(parse("=x"), (P{"", "x"}));
    EXPECT_EQ(parse("checked"), (P{"CHECKED", ""}));
    EXPECT_EQ(parse("\xC3\xA4=1"), (P{"\xC3\xA4", "1"}));

    // Spaces around "=" make three attributes.
    Doc d({"<img src = \"a b.gif\">"});
    EXPECT_EQ(Params(d.Tag(0)), (TParamList{{"SRC", ""}, {"", ""}, {"\"A B.GIF\"", ""}}));
    // An unbalanced quote takes the rest of the tag.
    Doc open({"<img alt=\"a b src=x.gif>"});
    EXPECT_EQ(Params(open.Tag(0)), (TParamList{{"ALT", "\"a b src=x.gif"}}));
}

TEST(DecodeText, WhiteSpace)
{
    // Long runs of blanks, and a space terminator followed by more blanks.
    EXPECT_EQ(Decode("x" + std::string(40, ' ') + "\n" + std::string(40, ' ') + "y"), "x y");
    EXPECT_EQ(Decode("&#65" + std::string(40, ' ') + "b"), "Ab");
    EXPECT_EQ(Decode("&#32;" + std::string(20, ' ') + "b"), "  b");
    EXPECT_EQ(Decode("a\n\nb"), "a b");
    EXPECT_EQ(Decode("  a  \t  b  "), " a \t b ");
    EXPECT_EQ(Decode(""), "");
    EXPECT_EQ(Decode("\n"), " ");
}

TEST(DecodeText, References)
{
    EXPECT_EQ(Decode("x &amp; y"), "x & y");
    EXPECT_EQ(Decode("&AMP;"), "&AMP;");
    EXPECT_EQ(Decode("&#x41;&#X41;&#65;&#065;&#+65;"), "AAAAA");
    EXPECT_EQ(Decode("&#1234;"), "&#1234;");
    EXPECT_EQ(Decode("&#0065;"), "&#0065;");
    EXPECT_EQ(Decode("&nbsp;&#9;&#0;&#160;"), "    ");
    // A space terminator is swallowed; named references never end in one.
    EXPECT_EQ(Decode("&#65 b"), "Ab");
    EXPECT_EQ(Decode("&amp b"), "&amp b");
    // Replacements are not decoded again.
    EXPECT_EQ(Decode("&amp;lt;"), "&lt;");
    EXPECT_EQ(Decode("&#38;amp;"), "&amp;");
    // Unterminated, empty or malformed references stay.
    EXPECT_EQ(Decode("a &amp"), "a &amp");
    EXPECT_EQ(Decode("&#;&#x;&#-;&#1x;&#xG;&;"), "&#;&#x;&#-;&#1x;&#xG;&;");
    // A new "&" starts the reference again.
    EXPECT_EQ(Decode("&x&amp;"), "&x&");
    EXPECT_EQ(Decode("&&&lt;"), "&&<");
    EXPECT_EQ(Decode("a;b&lt"), "a;b&lt");
}

TEST(DecodeText, HighCharactersBecomeUtf8)
{
    // 160 to 255: Latin-1; 128 to 159: the Windows-1252 characters.
    EXPECT_EQ(Decode("&#233;&eacute;&#xE9;"), "\xC3\xA9\xC3\xA9\xC3\xA9");
    EXPECT_EQ(Decode("&#150;"), "\xE2\x80\x93");
    EXPECT_EQ(Decode("&#x80;"), "\xE2\x82\xAC");
    EXPECT_EQ(Decode("&#129;"), "\xC2\x81");
    EXPECT_EQ(Decode("&yuml;&#255;"), "\xC3\xBF\xC3\xBF");
    // 256 to 999 are Unicode code points; negative values stay as written.
    EXPECT_EQ(Decode("&#945;&#256;&#999;"), "\xCE\xB1\xC4\x80\xCF\xA7");
    EXPECT_EQ(Decode("&#-1;&#-65;"), "&#-1;&#-65;");
    EXPECT_EQ(Decode("&#x100;"), "&#x100;");
    // Bytes of the page itself are kept as they are.
    EXPECT_EQ(Decode("\xC3\xA4\xFF"), "\xC3\xA4\xFF");
}

TEST(DecodeText, EveryTableEntry)
{
    ASSERT_EQ(EntityTable.size(), 100u);
    EXPECT_EQ(EntityTable[0].Name, "&quot;");
    EXPECT_EQ(EntityTable[4].Numeric, "&#160;");
    for (std::size_t i = 0; i < EntityTable.size(); ++i) {
        SCOPED_TRACE(EntityTable[i].Name);
        EXPECT_EQ(Decode(EntityTable[i].Name), Decode(EntityTable[i].Numeric));
        EXPECT_NE(Decode(EntityTable[i].Name), EntityTable[i].Name);
        if (i >= 5) {
            EXPECT_EQ(EntityTable[i].Numeric, "&#" + std::to_string(156 + i) + ";");
        }
    }
    EXPECT_EQ(Decode("&quot;&lt;&gt;&Agrave;&THORN;&szlig;"), "\"<>\xC3\x80\xC3\x9E\xC3\x9F");
    EXPECT_EQ(CharMap[31], 32);
    EXPECT_EQ(CharMap[32], 32);
    EXPECT_EQ(CharMap[160], 32);
    EXPECT_EQ(CharMap[161], 161);
}

TEST(HTMLParser, PathologicalInputsFinish)
{
    THTMLParser p;
    std::string s(2000000, '&');
    p.Lines.Add(s);
    s.assign(2000000, ' ');
    p.Lines.Add(s);
    p.Execute();
    ASSERT_EQ(p.Nodes.Count(), 1u);
    // The line breaks and the run of spaces become one space.
    EXPECT_EQ(p.Nodes[0]->AsText()->Text().size(), 2000001u);

    // One tag with 100,000 attributes, and a line of "<" with a far ">".
    p.Lines.Clear();
    p.Nodes.Clear();
    std::string tag = "<img";
    for (int i = 0; i < 100000; ++i)
        tag += " a=\"" + std::to_string(i) + "\"";
    p.Lines.Add(tag);
    p.Lines.Add(std::string(1000000, '<') + ">" + std::string(1000000, '>'));
    p.Execute();
    ASSERT_EQ(p.Nodes.Count(), 1000001u);
    const THTMLTag* t = p.Nodes[0]->AsTag();
    ASSERT_EQ(t->Params().size(), 100000u);
    EXPECT_EQ(t->Params()[99999].Value(), "99999");
    EXPECT_EQ(p.Nodes[1000000]->AsTag()->Raw(), "");
}

} // namespace
