// Attribute reading of today's browsers (THTMLParser::Modern): quotes of both
// kinds, blanks around "=", white space of every kind between attributes and
// "/>". The same inputs with the option off keep the plain rules.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "html/HTMLPars.h"

namespace {

using TParamList = std::vector<std::pair<std::string, std::string>>;

struct TTagView {
    std::string Name;
    TParamList Params;
};

std::vector<TTagView> Tags(std::initializer_list<std::string_view> lines, bool modern)
{
    THTMLParser parser;
    parser.Modern = modern;
    for (std::string_view l : lines)
        parser.Lines.Add(l);
    parser.Execute();
    std::vector<TTagView> out;
    for (const THTMLNode* n : parser.Nodes)
        if (const THTMLTag* t = n->AsTag()) {
            TTagView v{std::string(t->Name()), {}};
            for (const THTMLParam& p : t->Params()) {
                v.Params.emplace_back(p.Name(), p.Value());
                // The value always lies in the attribute's own text.
                EXPECT_TRUE(p.Value().empty() ||
                            (p.Value().data() >= p.Raw().data() &&
                             p.Value().data() + p.Value().size() <= p.Raw().data() + p.Raw().size()));
            }
            out.push_back(std::move(v));
        }
    return out;
}

// The attributes of the one tag whose text (without "<" and ">") is given.
TParamList Only(std::string_view text, bool modern = true)
{
    const std::string line = "<" + std::string(text) + ">";
    const auto tags = Tags({line}, modern);
    EXPECT_EQ(tags.size(), 1u) << text;
    return tags.empty() ? TParamList{} : tags[0].Params;
}

} // namespace

TEST(HTMLParserModern, QuotesBlanksAndSelfClosingTags)
{
    EXPECT_EQ(Only("img src='a.jpg' alt=\"x y\""), (TParamList{{"SRC", "a.jpg"}, {"ALT", "x y"}}));
    EXPECT_EQ(Only("img src = \"a.jpg\"   width =10"), (TParamList{{"SRC", "a.jpg"}, {"WIDTH", "10"}}));
    EXPECT_EQ(Only("img\tsrc=a.jpg\t\tdata-src='b.jpg'/"), (TParamList{{"SRC", "a.jpg"}, {"DATA-SRC", "b.jpg"}}));
    EXPECT_EQ(Only("img src=\"a.jpg\"/"), (TParamList{{"SRC", "a.jpg"}}));
    EXPECT_EQ(Only("img src=\"a.jpg\" /"), (TParamList{{"SRC", "a.jpg"}}));
    // Quotes of the other kind and blanks stay inside a quoted value; an
    // unquoted value runs to white space and keeps a slash.
    EXPECT_EQ(Only("img alt='say \"hi\"' title=\"it's\""), (TParamList{{"ALT", "say \"hi\""}, {"TITLE", "it's"}}));
    EXPECT_EQ(Only("a href=/x/y.html"), (TParamList{{"HREF", "/x/y.html"}}));
    // Empty values, attributes without one, an unclosed quote to the end.
    EXPECT_EQ(Only("img src='' hidden alt= "), (TParamList{{"SRC", ""}, {"HIDDEN", ""}, {"ALT", ""}}));
    EXPECT_EQ(Only("img src='a b"), (TParamList{{"SRC", "a b"}}));
    // A lone "=" begins a name, as browsers read it.
    EXPECT_EQ(Only("img =x"), (TParamList{{"=X", ""}}));

    EXPECT_EQ(Tags({"<br/>"}, true)[0].Name, "BR");
    EXPECT_EQ(Tags({"<img/src=a.gif>"}, true)[0].Params, (TParamList{{"SRC", "a.gif"}}));
    EXPECT_EQ(Tags({"</a >"}, true)[0].Name, "/A");
}

TEST(HTMLParserModern, LineBreaksInsideATagSeparateAttributes)
{
    const auto tags = Tags({"<img", "src='a.jpg'", "  srcset=\"b.jpg 2x,", "c.jpg 3x\">"}, true);
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_EQ(tags[0].Name, "IMG");
    EXPECT_EQ(tags[0].Params, (TParamList{{"SRC", "a.jpg"}, {"SRCSET", "b.jpg 2x,\nc.jpg 3x"}}));
    // An opening "<" alone at a line end makes no empty tag either.
    const auto split = Tags({"<", "img src=x.gif>"}, true);
    ASSERT_EQ(split.size(), 1u);
    EXPECT_EQ(split[0].Name, "IMG");
}

TEST(HTMLParserModern, OptionOffKeepsThePlainRules)
{
    // Single quotes kept, "=" with blanks split into three, "/>" keeps the
    // quotes, and lines inside a tag joined without a separator.
    EXPECT_EQ(Only("img src='a.jpg'", false), (TParamList{{"SRC", "'a.jpg'"}}));
    EXPECT_EQ(Only("img src = \"a.jpg\"", false), (TParamList{{"SRC", ""}, {"", ""}, {"\"A.JPG\"", ""}}));
    EXPECT_EQ(Only("img src=\"a.jpg\"/", false), (TParamList{{"SRC", "\"a.jpg\"/"}}));
    const auto joined = Tags({"<img", "src=a.gif>"}, false);
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_EQ(joined[0].Name, "IMGSRC=A.GIF");
}

TEST(HTMLParserModern, HostileTagsStayBounded)
{
    // Many attributes, a long quoted value with every kind of blank, and a
    // storage that is reused page after page.
    std::string many = "<img";
    for (int i = 0; i < 20000; ++i)
        many += " a" + std::to_string(i) + " = '" + std::to_string(i) + "'";
    many += ">";
    THTMLParser parser;
    parser.Modern = true;
    for (int round = 0; round < 3; ++round) {
        parser.Lines.Clear();
        parser.Nodes.Clear();
        parser.Lines.Add(many);
        parser.Lines.Add("<img src='" + std::string(100000, ' ') + "\t\f\r'>");
        parser.Execute();
        ASSERT_EQ(parser.Nodes.Count(), 2u);
        const THTMLTag* first = parser.Nodes[0]->AsTag();
        ASSERT_NE(first, nullptr);
        ASSERT_EQ(first->Params().size(), 20000u);
        EXPECT_EQ(first->Params()[19999].Name(), "A19999");
        EXPECT_EQ(first->Params()[19999].Value(), "19999");
        EXPECT_EQ(parser.Nodes[1]->AsTag()->Params()[0].Value().size(), 100003u);
    }
}
