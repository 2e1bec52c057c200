// The tokenizer against a plain model written straight from the rules (string
// copies, erasing from the front, rescanning), on many random documents built
// from the bytes and references that matter.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "html/HTMLPars.h"

namespace {

struct MParam {
    std::string Raw, Name, Value;
};
struct MNode {
    bool IsTag = false;
    std::string Name, Raw, Text;
    std::vector<MParam> Params;
};

std::string Upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return s;
}

MParam ModelParam(std::string p)
{
    MParam r;
    r.Raw = p;
    const std::size_t eq = p.find('=');
    if (eq != std::string::npos) {
        r.Value = p.substr(eq + 1);
        p = p.substr(0, eq);
        if (r.Value.size() > 1 && r.Value.front() == '"' && r.Value.back() == '"')
            r.Value = r.Value.substr(1, r.Value.size() - 2);
    }
    r.Name = Upper(p);
    return r;
}

MNode ModelTag(std::string s)
{
    MNode n;
    n.IsTag = true;
    n.Raw = s;
    const std::size_t sp = s.find(' ');
    const std::string name = sp == std::string::npos ? s : s.substr(0, sp);
    s.erase(0, name.size());
    n.Name = Upper(name);
    while (!s.empty()) {
        std::string piece;
        bool quoted = false;
        while (!s.empty() && !(s[0] == ' ' && !quoted)) {
            if (s[0] == '"')
                quoted = !quoted;
            piece += s[0];
            s.erase(0, 1);
        }
        if (!s.empty() && s[0] == ' ')
            s.erase(0, 1);
        if (!piece.empty())
            n.Params.push_back(ModelParam(piece));
    }
    return n;
}

void PutUtf8(std::string& out, unsigned cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string ModelCharacter(int v)
{
    static const unsigned cp1252[32] = {0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021,
                                        0x2C6,  0x2030, 0x160,  0x2039, 0x152,  0x8D,   0x17D,  0x8F,
                                        0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                        0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};
    std::string out;
    if (v < 256) {
        const unsigned c = CharMap[static_cast<unsigned>(v)];
        PutUtf8(out, c >= 0x80 && c < 0xA0 ? cp1252[c - 0x80] : c);
    } else {
        PutUtf8(out, static_cast<unsigned>(v));
    }
    return out;
}

// "x" or "X" then hexadecimal digits, or an optional sign then decimal digits.
bool ModelNumber(const std::string& s, int& v)
{
    if (s.empty() || s.size() > 3)
        return false;
    std::size_t i = 0;
    int base = 10, sign = 1;
    if (s[0] == 'x' || s[0] == 'X') {
        base = 16;
        i = 1;
    } else if (s[0] == '+' || s[0] == '-') {
        sign = s[0] == '-' ? -1 : 1;
        i = 1;
    }
    if (i == s.size())
        return false;
    v = 0;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * base + d;
    }
    v *= sign;
    return true;
}

std::string ModelDecode(std::string s)
{
    for (char& c : s)
        if (c == '\n')
            c = ' ';
    for (std::size_t p; (p = s.find("  ")) != std::string::npos;)
        s.erase(p, 1);
    std::size_t i = 0, start = 0;
    bool collecting = false;
    std::string ref;
    while (i < s.size()) {
        if (s[i] == '&') {
            start = i;
            ref.clear();
            collecting = true;
        }
        if (collecting) {
            ref += s[i];
            if (s[i] == ';' || s[i] == ' ') {
                collecting = false;
                const std::size_t len = ref.size();
                if (len > 2 && ref[1] == '#') {
                    int v = 0;
                    if (ModelNumber(ref.substr(2, len - 3), v) && v >= 0) {
                        const std::string ins = ModelCharacter(v);
                        s.replace(start, len, ins);
                        i = start + ins.size();
                        continue;
                    }
                } else {
                    bool found = false;
                    for (const THTMLEntity& e : EntityTable) {
                        if (e.Name == ref) {
                            s.replace(start, len, e.Numeric);
                            i = start;
                            found = true;
                            break;
                        }
                    }
                    if (found)
                        continue;
                }
            }
        }
        ++i;
    }
    return s;
}

std::vector<MNode> ModelExecute(const std::vector<std::string>& lines)
{
    std::vector<MNode> nodes;
    std::string text, tag;
    bool inTag = false;
    auto flush = [&] {
        MNode n;
        n.Raw = text;
        n.Text = ModelDecode(text);
        nodes.push_back(n);
        text.clear();
    };
    auto makeTag = [&] {
        inTag = false;
        nodes.push_back(ModelTag(tag));
        tag.clear();
    };
    for (const std::string& line : lines) {
        for (char c : line) {
            if (c == '<') {
                if (!inTag && !text.empty())
                    flush();
                inTag = true;
            } else if (c == '>') {
                makeTag();
            } else {
                (inTag ? tag : text) += c;
            }
        }
        if (!inTag && !text.empty())
            text += '\n';
    }
    if (inTag && !tag.empty())
        makeTag();
    if (!inTag && !text.empty())
        flush();
    return nodes;
}

std::string RandomLine(std::mt19937& rnd)
{
    static const char* tokens[] = {
        "<", ">", "\"", "=", " ", "  ", "&", ";", "#", "x", "X", "a", "B", "/", "!", "-", "\t", "\n", "1", "9",
        "img", "src", "href", "&amp;", "&AMP;", "&nbsp;", "&lt", "&#65;", "&#x41;", "&#65 ", "&#233;", "&#150;",
        "&#-5;", "&#999;", "&#1234;", "&#+7;", "&#x;", "&#;", "&eacute;", "&yuml;", "&quot;", "\xC3\xA4", "'",
        "                    ", "\n\n  \n", "&#32;",
    };
    std::string line;
    const int count = static_cast<int>(rnd() % 24);
    for (int i = 0; i < count; ++i)
        line += tokens[rnd() % (sizeof tokens / sizeof tokens[0])];
    return line;
}

TEST(HTMLParserModel, RandomDocumentsMatchTheModel)
{
    std::mt19937 rnd(20261207);
    THTMLParser parser;
    for (int round = 0; round < 20000; ++round) {
        std::vector<std::string> lines(rnd() % 5);
        for (std::string& l : lines)
            l = RandomLine(rnd);
        parser.Lines.Clear();
        parser.Nodes.Clear();
        for (const std::string& l : lines)
            parser.Lines.Add(l);
        parser.Execute();
        const std::vector<MNode> want = ModelExecute(lines);

        std::string doc;
        for (const std::string& l : lines)
            doc += l + "|";
        SCOPED_TRACE(doc);
        ASSERT_EQ(parser.Nodes.Count(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i) {
            const THTMLNode* node = parser.Nodes[i];
            if (want[i].IsTag) {
                const THTMLTag* tag = node->AsTag();
                ASSERT_NE(tag, nullptr);
                ASSERT_EQ(tag->Raw(), want[i].Raw);
                ASSERT_EQ(tag->Name(), want[i].Name);
                ASSERT_EQ(tag->Params().size(), want[i].Params.size());
                for (std::size_t k = 0; k < want[i].Params.size(); ++k) {
                    const THTMLParam& p = tag->Params()[k];
                    ASSERT_EQ(p.Raw(), want[i].Params[k].Raw);
                    ASSERT_EQ(p.Name(), want[i].Params[k].Name);
                    ASSERT_EQ(p.Value(), want[i].Params[k].Value);
                }
            } else {
                const THTMLText* text = node->AsText();
                ASSERT_NE(text, nullptr);
                ASSERT_EQ(text->Raw(), want[i].Raw);
                ASSERT_EQ(text->Text(), want[i].Text);
            }
        }
    }
}

} // namespace
