// Which pictures a user wants: the full-size picture rather than the
// thumbnail that links to it, and no second copy of a file already saved.
// Plain C++ without Qt.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Tells, tag by tag in document order, whether the scan stands inside a link
// that leads straight to a picture. What counts: an A tag whose HREF the
// scan lists as a picture opens such a link; it ends at the next "</A>", at
// the next A tag (links do not nest) and at the end of the page. Every
// inline picture inside it (IMG, PICTURE's SOURCE, an inline background) is
// the link's thumbnail and is not listed; the linked picture is. An A tag
// whose HREF is a page, or that has no HREF, opens no such link; AREA and
// LINK never do.
class TThumbnailLinks {
public:
    // Each tag of the page as the tokenizer names it (upper case, "/A" for
    // an end tag); hrefIsPicture for an A tag whose HREF is listed as a picture.
    void Tag(std::string_view name, bool hrefIsPicture = false);
    bool InsidePictureLink() const { return inside_; }
    // A new page starts outside any link.
    void Reset() { inside_ = false; }

private:
    bool inside_ = false;
};

// The minimum size of a download, judged from the bytes as they arrive:
// the first bytes are kept only until the header reader knows the size (at
// most kPictureSizeByteLimit of them), then nothing more is kept.
class TMinSizeGate {
public:
    enum class TVerdict { Undecided, Keep, TooSmall };
    TMinSizeGate(std::uint32_t minWidth, std::uint32_t minHeight) : minWidth_(minWidth), minHeight_(minHeight) {}
    // The next len bytes of the body.
    TVerdict Feed(const void* data, std::size_t len);
    // The size that decided (0 x 0 while undecided or unknown).
    std::uint32_t Width() const { return width_; }
    std::uint32_t Height() const { return height_; }

private:
    std::uint32_t minWidth_, minHeight_;
    std::uint32_t width_ = 0, height_ = 0;
    std::vector<std::uint8_t> head_;
    TVerdict verdict_ = TVerdict::Undecided;
};

using TContentHash = std::array<std::uint8_t, 32>;

// The SHA-256 of a file's content, read in blocks; nothing when it cannot
// be read.
std::optional<TContentHash> FileContentHash(const std::filesystem::path& path);

// The files of a target folder and those saved in this run, by size and,
// when asked, by content. The folder is listed on the first question only
// and a file's hash is computed the first time a file of its size arrives,
// once per run.
class TDuplicateIndex {
public:
    // The name of a file in folder, or saved there earlier in this run, whose
    // bytes equal those of the file at path (which itself is never named);
    // empty when there is none.
    std::string FindEqual(const std::filesystem::path& folder, const std::filesystem::path& path);
    // A file of this name is kept in folder.
    void Kept(const std::filesystem::path& folder, const std::string& name);
    // How many hashes were computed, for the once-per-run promise.
    std::size_t HashesComputed() const { return hashes_; }

private:
    struct TEntry {
        std::string Name;
        std::optional<TContentHash> Hash;
    };
    void List(const std::filesystem::path& folder);
    std::filesystem::path folder_;
    bool listed_ = false;
    std::map<std::uintmax_t, std::vector<TEntry>> bySize_;
    std::size_t hashes_ = 0;
};
