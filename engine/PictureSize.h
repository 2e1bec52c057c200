// A picture's width and height from the first bytes of its file, for the
// download's minimum size: JPEG, PNG, GIF, WebP, AVIF, BMP and TIFF. Each
// reader looks only at [data, data + size) and walks at most a bounded number
// of segments or boxes; it is fed the bytes received so far and says whether
// it needs more. Plain C++ without Qt.
#pragma once

#include <cstddef>
#include <cstdint>

enum class TSizeStatus {
    NeedMore,     // the bytes so far fit the type but do not yet hold the size
    Size,         // Width and Height are known (both above 0)
    NotThisType,  // not this type, or a file of it whose size cannot be read
};

struct TPictureSize {
    TSizeStatus Status = TSizeStatus::NotThisType;
    std::uint32_t Width = 0;
    std::uint32_t Height = 0;
};

TPictureSize JpegSize(const std::uint8_t* data, std::size_t size);
TPictureSize PngSize(const std::uint8_t* data, std::size_t size);
TPictureSize GifSize(const std::uint8_t* data, std::size_t size);
TPictureSize WebpSize(const std::uint8_t* data, std::size_t size);
TPictureSize AvifSize(const std::uint8_t* data, std::size_t size);
TPictureSize BmpSize(const std::uint8_t* data, std::size_t size);
TPictureSize TiffSize(const std::uint8_t* data, std::size_t size);

// Every reader in turn: Size when one knows it, NeedMore while one still
// may, otherwise NotThisType.
TPictureSize PictureSize(const std::uint8_t* data, std::size_t size);

// How many bytes a caller waits for at most before it gives up on the size
// and treats it as unknown: a JPEG may carry large metadata before its frame
// header, a TIFF its directory at the end; beyond this the saving is gone.
constexpr std::size_t kPictureSizeByteLimit = 256 * 1024;
