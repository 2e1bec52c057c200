// StreamToLines and the tokenizer (plain and with the browsers' attribute
// rules) on arbitrary bytes, with checks that every node's texts are
// consistent with what was read.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/StreamLines.h"
#include "html/HTMLPars.h"

namespace {

bool Inside(std::string_view part, std::string_view whole)
{
    return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // One parser for all inputs, as in a scan: clearing must leave nothing behind.
    static THTMLParser parser;
    parser.Lines.Clear();
    parser.Nodes.Clear();
    StreamToLines(parser.Lines, std::string_view(reinterpret_cast<const char*>(data), size));
    if (parser.Lines.TextSize() > size)
        __builtin_trap();
    parser.Execute();

    std::size_t total = 0;
    for (const THTMLNode* node : parser.Nodes) {
        if (const THTMLTag* tag = node->AsTag()) {
            total += tag->Raw().size();
            if (tag->Name().size() > tag->Raw().size())
                __builtin_trap();
            for (const THTMLParam& p : tag->Params()) {
                if (!Inside(p.Raw(), tag->Raw()) || !Inside(p.Value(), p.Raw()) || p.Name().size() > p.Raw().size() || p.Raw().empty())
                    __builtin_trap();
            }
        } else if (const THTMLText* text = node->AsText()) {
            total += text->Raw().size();
            if (text->Text().size() > text->Raw().size() || text->Raw().empty())
                __builtin_trap();
        } else {
            __builtin_trap();
        }
    }
    // Every byte ends in at most one node, plus one line feed per line.
    if (total > size + parser.Lines.Count())
        __builtin_trap();

    // The browsers' attribute rules on the same lines: each attribute's text
    // is rebuilt as name "=" value, never longer than the tag's text.
    static THTMLParser modern;
    modern.Modern = true;
    modern.Nodes.Clear();
    modern.Lines.Clear();
    StreamToLines(modern.Lines, std::string_view(reinterpret_cast<const char*>(data), size));
    modern.Execute();
    for (const THTMLNode* node : modern.Nodes) {
        const THTMLTag* tag = node->AsTag();
        if (!tag)
            continue;
        std::size_t attrs = 0;
        for (const THTMLParam& p : tag->Params()) {
            attrs += p.Raw().size();
            if (!Inside(p.Value(), p.Raw()) || p.Name().size() > p.Raw().size() || p.Raw().empty())
                __builtin_trap();
        }
        if (tag->Name().size() > tag->Raw().size() || attrs > tag->Raw().size())
            __builtin_trap();
    }
    return 0;
}
