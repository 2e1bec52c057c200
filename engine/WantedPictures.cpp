#include "engine/WantedPictures.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include <openssl/evp.h>

#include "engine/PictureSize.h"

TMinSizeGate::TVerdict TMinSizeGate::Feed(const void* data, std::size_t len)
{
    if (verdict_ != TVerdict::Undecided)
        return verdict_;
    if (minWidth_ == 0 && minHeight_ == 0)
        return verdict_ = TVerdict::Keep;
    const std::size_t take = std::min(len, kPictureSizeByteLimit - head_.size());
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    head_.insert(head_.end(), bytes, bytes + take);
    const TPictureSize size = PictureSize(head_.data(), head_.size());
    if (size.Status == TSizeStatus::Size) {
        width_ = size.Width;
        height_ = size.Height;
        verdict_ = width_ < minWidth_ || height_ < minHeight_ ? TVerdict::TooSmall : TVerdict::Keep;
    } else if (size.Status == TSizeStatus::NotThisType || head_.size() >= kPictureSizeByteLimit) {
        // A size that cannot be read is no reason to drop a file.
        verdict_ = TVerdict::Keep;
    }
    if (verdict_ != TVerdict::Undecided)
        std::vector<std::uint8_t>().swap(head_);
    return verdict_;
}

void TThumbnailLinks::Tag(std::string_view name, bool hrefIsPicture)
{
    if (name == "A")
        inside_ = hrefIsPicture;
    else if (name == "/A")
        inside_ = false;
}

std::optional<TContentHash> FileContentHash(const std::filesystem::path& path)
{
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file)
        return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
        return std::nullopt;
    std::vector<unsigned char> block(64 * 1024);
    std::size_t n;
    while ((n = std::fread(block.data(), 1, block.size(), file.get())) > 0)
        if (EVP_DigestUpdate(ctx.get(), block.data(), n) != 1)
            return std::nullopt;
    if (std::ferror(file.get()))
        return std::nullopt;
    TContentHash hash{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), hash.data(), &length) != 1 || length != hash.size())
        return std::nullopt;
    return hash;
}

void TDuplicateIndex::List(const std::filesystem::path& folder)
{
    // The target folder may change between two downloads; the index follows it.
    if (listed_ && folder == folder_)
        return;
    folder_ = folder;
    listed_ = true;
    bySize_.clear();
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc))
            continue;
        const std::uintmax_t size = it->file_size(fileEc);
        if (!fileEc)
            bySize_[size].push_back({it->path().filename().string(), std::nullopt});
    }
}

std::string TDuplicateIndex::FindEqual(const std::filesystem::path& folder, const std::filesystem::path& path)
{
    List(folder);
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec)
        return {};
    const auto it = bySize_.find(size);
    if (it == bySize_.end())
        return {};
    const std::string self = path.filename().string();
    const bool inFolder = std::filesystem::equivalent(path.parent_path(), folder, ec) && !ec;
    std::optional<TContentHash> hash;
    for (TEntry& entry : it->second) {
        if (inFolder && entry.Name == self)
            continue;
        if (!entry.Hash) {
            entry.Hash = FileContentHash(folder / entry.Name);
            ++hashes_;
            if (!entry.Hash)
                continue;
        }
        if (!hash) {
            hash = FileContentHash(path);
            ++hashes_;
            if (!hash)
                return {};
        }
        if (*entry.Hash == *hash)
            return entry.Name;
    }
    return {};
}

void TDuplicateIndex::Kept(const std::filesystem::path& folder, const std::string& name)
{
    List(folder);
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(folder / name, ec);
    if (ec)
        return;
    std::vector<TEntry>& entries = bySize_[size];
    for (const TEntry& entry : entries)
        if (entry.Name == name)
            return;
    entries.push_back({name, std::nullopt});
}
