// The lines of a document as the tokenizer reads them: all line texts in one
// buffer plus the end offset of each line, so a page of many short lines costs
// no allocation per line. Header only, so the Qt-free app core can fill it
// without linking the tokenizer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class TLineList {
public:
    void Clear()
    {
        fText.clear();
        fEnds.clear();
    }
    void Add(std::string_view Line)
    {
        fText.append(Line);
        fEnds.push_back(fText.size());
    }
    // Room for bytes more text and lines more lines.
    void Reserve(std::size_t bytes, std::size_t lines)
    {
        fText.reserve(fText.size() + bytes);
        fEnds.reserve(fEnds.size() + lines);
    }

    std::size_t Count() const { return fEnds.size(); }
    bool Empty() const { return fEnds.empty(); }
    // Valid until the list is next changed.
    std::string_view operator[](std::size_t i) const
    {
        const std::size_t begin = i == 0 ? 0 : fEnds[i - 1];
        return std::string_view(fText).substr(begin, fEnds[i] - begin);
    }
    // Total bytes of all lines.
    std::size_t TextSize() const { return fText.size(); }

    class const_iterator {
    public:
        using value_type = std::string_view;
        using difference_type = std::ptrdiff_t;
        const_iterator() = default;
        const_iterator(const TLineList* list, std::size_t i) : fList(list), fIndex(i) {}
        std::string_view operator*() const { return (*fList)[fIndex]; }
        const_iterator& operator++() { ++fIndex; return *this; }
        const_iterator operator++(int) { const_iterator t = *this; ++fIndex; return t; }
        bool operator==(const const_iterator& o) const { return fIndex == o.fIndex; }
    private:
        const TLineList* fList = nullptr;
        std::size_t fIndex = 0;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, fEnds.size()}; }

private:
    std::string fText;
    std::vector<std::size_t> fEnds;
};
