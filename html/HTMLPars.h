// The HTML tokenizer: turns the lines of a page into a flat list of nodes in
// document order, tags (with their attributes) and runs of text. No tree, no
// element knowledge: a "<" opens a tag, the next ">" closes it, the rest is
// text. Plain C++ without Qt.
//
// Use:
//   THTMLParser Parser;
//   Parser.Lines.Clear(); Parser.Nodes.Clear();
//   StreamToLines(Parser.Lines, Stream.Data());   // app/StreamLines.h
//   Parser.Execute();
//   for (const THTMLNode* Node : Parser.Nodes)
//       if (const THTMLTag* Tag = Node->AsTag())
//           for (const THTMLParam& Param : Tag->Params())
//               ... Tag->Name(), Param.Name(), Param.Value() ...
//
// Nodes and all their texts live in storage owned by the parser's node list:
// the views stay valid until Nodes is cleared or the parser is destroyed.
// Texts are byte strings as received. Character references in text nodes are
// decoded to UTF-8: 0 to 255 through CharMap, 128 to 159 as the Windows-1252
// characters, 256 to 999 (three decimal digits at most) as Unicode code
// points; a negative value names no character and stays as written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "html/LineList.h"

// Bump storage for nodes and their texts: one allocation per block of many
// nodes instead of several per node. Clear releases everything at once and
// keeps a bounded number of blocks, so the pages of a scan reuse them.
class TNodeArena {
public:
    TNodeArena() = default;
    TNodeArena(const TNodeArena&) = delete;
    TNodeArena& operator=(const TNodeArena&) = delete;

    // Uninitialised room for n bytes (null for n == 0).
    char* AllocateChars(std::size_t n) { return static_cast<char*>(Allocate(n, 1)); }
    // Uninitialised room for bytes bytes aligned to align (a power of two).
    void* Allocate(std::size_t bytes, std::size_t align)
    {
        if (bytes == 0)
            return nullptr;
        const std::size_t pad = (0 - reinterpret_cast<std::uintptr_t>(fCur)) & (align - 1);
        if (fLeft >= pad && fLeft - pad >= bytes) {
            char* p = fCur + pad;
            fCur = p + bytes;
            fLeft -= pad + bytes;
            return p;
        }
        return AllocateSlow(bytes, align);
    }
    // Gives back the end of the latest allocation (p, oldBytes long).
    void ShrinkLast(void* p, std::size_t oldBytes, std::size_t newBytes)
    {
        if (p != nullptr && static_cast<char*>(p) + oldBytes == fCur && newBytes <= oldBytes) {
            fCur -= oldBytes - newBytes;
            fLeft += oldBytes - newBytes;
        }
    }

    template <class T>
    T* Make()
    {
        static_assert(std::is_trivially_destructible_v<T>, "arena objects are never destroyed one by one");
        return new (Allocate(sizeof(T), alignof(T))) T();
    }

    // Frees every object.
    void Clear();
    // Bytes held in blocks.
    std::size_t Capacity() const;

    static constexpr std::size_t kBlockSize = 256 * 1024;
    // Blocks kept over Clear: enough for the nodes of a large page.
    static constexpr std::size_t kRetainedBytes = 64 * 1024 * 1024;

private:
    void* AllocateSlow(std::size_t bytes, std::size_t align);

    struct TBlock {
        std::unique_ptr<char[]> Data;
        std::size_t Size = 0;
    };
    std::vector<TBlock> fBlocks; // [0, fUsed) hold the current document, the rest are free
    std::size_t fUsed = 0;
    char* fCur = nullptr;
    std::size_t fLeft = 0;
};

class THTMLTag;
class THTMLText;

enum class THTMLNodeKind : std::uint8_t { Tag, Text };

class THTMLNode {
public:
    THTMLNodeKind Kind() const { return fKind; }
    // The node as a tag or a text, or null when it is the other kind.
    const THTMLTag* AsTag() const;
    const THTMLText* AsText() const;

protected:
    explicit THTMLNode(THTMLNodeKind kind) : fKind(kind) {}

private:
    THTMLNodeKind fKind;
};

// One attribute of a tag. Kept small (a tag may have very many): its texts
// are slices of the tag's storage.
class THTMLParam {
public:
    // The attribute's text as split from the tag.
    std::string_view Raw() const { return {fRaw, fRawLen}; }
    // The part before the first "=", in upper case; all of Raw in upper case
    // when it has no "=".
    std::string_view Name() const { return {fName, fNameLen & kLengthMask}; }
    std::string_view Key() const { return Name(); }
    // The part after the first "=", one pair of enclosing double quotes
    // removed; empty without "=".
    std::string_view Value() const
    {
        if ((fNameLen & kHasValue) == 0)
            return {};
        const std::uint32_t quoted = (fNameLen & kQuoted) != 0 ? 1 : 0;
        const std::uint32_t offset = (fNameLen & kLengthMask) + 1 + quoted;
        return {fRaw + offset, fRawLen - offset - quoted};
    }

    // Fills Raw, Name and Value from the piece P; texts are kept in Store.
    // A piece of 1 GiB or more is refused with std::length_error.
    void ParseParam(std::string_view P, TNodeArena& Store);

    // Longest tag or attribute text.
    static constexpr std::uint32_t kMaxLength = (1u << 30) - 1;

private:
    friend class THTMLTag;
    // Sets Raw and the split of raw (already in storage); the name itself is
    // set afterwards.
    void Split(const char* raw, std::uint32_t len, std::uint32_t nameLen, bool hasValue);

    static constexpr std::uint32_t kHasValue = 1u << 31;
    static constexpr std::uint32_t kQuoted = 1u << 30;
    static constexpr std::uint32_t kLengthMask = kQuoted - 1;

    const char* fRaw = nullptr;
    const char* fName = nullptr;
    std::uint32_t fRawLen = 0;
    std::uint32_t fNameLen = 0; // the name's length, and the flags above
};

class THTMLTag : public THTMLNode {
public:
    THTMLTag() : THTMLNode(THTMLNodeKind::Tag) {}

    // Up to the first space, in upper case; empty for a stray ">".
    std::string_view Name() const { return {fRaw + fRawLen, fNameLen}; }
    // The text between "<" and ">".
    std::string_view Raw() const { return {fRaw, fRawLen}; }
    // The attributes in order of appearance.
    std::span<const THTMLParam> Params() const
    {
        return {reinterpret_cast<const THTMLParam*>(fRaw) - fParamCount, fParamCount};
    }

    // Fills Name, Raw and Params from the tag text S; texts are kept in Store.
    // A tag text of 1 GiB or more is refused with std::length_error.
    //
    // With Modern set, attributes are read as browsers read them: the name
    // ends at white space (space, tab, line feed, carriage return, form
    // feed) or "/"; blanks may stand around "="; a value may be quoted with
    // double or single quotes (the quotes are removed, each Raw is then
    // name "=" value) or unquoted up to the next white space; a "/" between
    // attributes (as in "/>") is no attribute.
    void ParseTag(std::string_view S, TNodeArena& Store, bool Modern = false);

private:
    void ParseTagModern(std::string_view S, TNodeArena& Store);

    // Reserves one block for the attributes, the raw text and the names
    // (laid out as described at fRaw); returns the raw text's place.
    char* Reserve(TNodeArena& Store, std::size_t count, std::size_t rawLen, std::size_t textLen);

    // Lengths first: they fill the padding behind the node kind. A page of
    // tiny tags holds millions of them, so one block per tag holds, in this
    // order, the attributes, the raw text (fRaw points here), the tag's name
    // and the attributes' names (and their texts, for the browsers' rules).
    std::uint32_t fRawLen = 0;
    std::uint32_t fNameLen = 0;
    std::uint32_t fParamCount = 0;
    const char* fRaw = nullptr;
};

class THTMLText : public THTMLNode {
public:
    THTMLText() : THTMLNode(THTMLNodeKind::Text) {}

    // White space normalised, references decoded.
    std::string_view Text() const { return {fRaw + fRawLen, fTextLen}; }
    // As collected.
    std::string_view Raw() const { return {fRaw, fRawLen}; }

    // Fills Raw and Text from the text S; texts are kept in Store. A text of
    // 4 GiB or more is refused with std::length_error.
    void DecodeText(std::string_view S, TNodeArena& Store);

private:
    std::uint32_t fRawLen = 0;
    std::uint32_t fTextLen = 0;
    const char* fRaw = nullptr; // Raw, directly followed by Text
};

inline const THTMLTag* THTMLNode::AsTag() const
{
    return fKind == THTMLNodeKind::Tag ? static_cast<const THTMLTag*>(this) : nullptr;
}
inline const THTMLText* THTMLNode::AsText() const
{
    return fKind == THTMLNodeKind::Text ? static_cast<const THTMLText*>(this) : nullptr;
}

// The parsed nodes in document order. The list owns them: Clear frees them.
class THTMLNodeList {
public:
    std::size_t Count() const { return fNodes.size(); }
    bool Empty() const { return fNodes.empty(); }
    const THTMLNode* operator[](std::size_t i) const { return fNodes[i]; }
    auto begin() const { return fNodes.cbegin(); }
    auto end() const { return fNodes.cend(); }

    void Clear()
    {
        fNodes.clear();
        fStore.Clear();
    }
    // Node must live in Store().
    void Add(THTMLNode* Node) { fNodes.push_back(Node); }
    TNodeArena& Store() { return fStore; }

private:
    std::vector<const THTMLNode*> fNodes;
    TNodeArena fStore;
};

class THTMLParser {
public:
    THTMLParser() = default;
    THTMLParser(const THTMLParser&) = delete;
    THTMLParser& operator=(const THTMLParser&) = delete;

    // Tokenises Lines and appends the nodes to Nodes (which it does not clear).
    void Execute();

    // Tags read with the attribute rules of today's browsers (see
    // THTMLTag::ParseTag); a line break inside a tag then separates like a
    // blank instead of joining the two lines.
    bool Modern = false;

private:
    void FlushText();
    void FlushText(std::string_view Text);
    void MakeTag(std::string_view Text);

    std::string PendingText;
    std::string PendingTag;
    bool InTag = false;

public:
    THTMLNodeList Nodes;
    TLineList Lines;
};

// Named character references: the HTML 4 names for 34, 38, 60, 62, 160 and
// 161 to 255, each with its numeric form.
struct THTMLEntity {
    std::string_view Name;    // "&amp;"
    std::string_view Numeric; // "&#38;"
};
extern const std::array<THTMLEntity, 100> EntityTable;

// Character a numeric reference stands for: codes 0 to 31 and 160 give a space.
inline constexpr std::array<unsigned char, 256> CharMap = [] {
    std::array<unsigned char, 256> map{};
    for (int i = 0; i < 256; ++i)
        map[i] = (i < 32 || i == 160) ? 32 : static_cast<unsigned char>(i);
    return map;
}();
