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
//           for (const THTMLParam& Param : Tag->Params)
//               ... Tag->Name, Param.Name, Param.Value ...
//
// Nodes and all their texts live in storage owned by the parser's node list:
// the views stay valid until Nodes is cleared or the parser is destroyed.
// Texts are byte strings as received; references are decoded to UTF-8.
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
#include <vector>

#include "html/LineList.h"

// Bump storage for nodes and their texts: one allocation per block of many
// nodes instead of several per node. Clear releases everything at once.
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

    template <class T>
    T* Make()
    {
        static_assert(std::is_trivially_destructible_v<T>, "arena objects are never destroyed one by one");
        return new (Allocate(sizeof(T), alignof(T))) T();
    }
    template <class T>
    std::span<T> MakeArray(std::size_t n);

    // Frees every object; keeps one block for the next document.
    void Clear();
    // Bytes held in blocks (for tests of the release on Clear).
    std::size_t Capacity() const;

private:
    struct TBlock {
        std::unique_ptr<char[]> Data;
        std::size_t Size = 0;
    };
    void* AllocateSlow(std::size_t bytes, std::size_t align);

    std::vector<TBlock> fBlocks;
    char* fCur = nullptr;
    std::size_t fLeft = 0;
    std::size_t fNextSize = 64 * 1024;
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

// One attribute of a tag.
class THTMLParam {
public:
    std::string_view Raw;   // the attribute's text as split from the tag
    std::string_view Name;  // before the first "=", upper case (all of Raw without "=")
    std::string_view Value; // after the first "=", one pair of enclosing double quotes removed

    std::string_view Key() const { return Name; }

    // Fills Raw, Name and Value from the piece P; texts are kept in Store.
    void ParseParam(std::string_view P, TNodeArena& Store);

private:
    friend class THTMLTag;
    // Raw and its upper-case copy are already in storage.
    void Split(std::string_view raw, const char* upper);
};

class THTMLTag : public THTMLNode {
public:
    THTMLTag() : THTMLNode(THTMLNodeKind::Tag) {}

    std::string_view Name;            // up to the first space, upper case; may be empty
    std::string_view Raw;             // the text between "<" and ">"
    std::span<const THTMLParam> Params; // in order of appearance

    // Fills Name, Raw and Params from the tag text S; texts are kept in Store.
    void ParseTag(std::string_view S, TNodeArena& Store);
};

class THTMLText : public THTMLNode {
public:
    THTMLText() : THTMLNode(THTMLNodeKind::Text) {}

    std::string_view Text; // white space normalised, references decoded
    std::string_view Raw;  // as collected

    // Fills Raw and Text from the text S; texts are kept in Store.
    void DecodeText(std::string_view S, TNodeArena& Store);
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

private:
    void FlushText();
    void MakeTag();

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

template <class T>
std::span<T> TNodeArena::MakeArray(std::size_t n)
{
    static_assert(std::is_trivially_destructible_v<T>, "arena objects are never destroyed one by one");
    if (n == 0)
        return {};
    if (n > SIZE_MAX / sizeof(T))
        throw std::bad_alloc();
    T* p = static_cast<T*>(Allocate(n * sizeof(T), alignof(T)));
    for (std::size_t i = 0; i < n; ++i)
        new (p + i) T();
    return {p, n};
}
