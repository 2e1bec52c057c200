// OpenDib: reads a picture file into memory and hands it to the decoder its
// type code or its content names.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "raster/Decoders.h"
#include "raster/PixelBudget.h"
#include "raster/Rasterwerk.h"

namespace raster {

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool StartsWith(const uint8_t* data, size_t size, const char* magic, size_t n)
{
    return size >= n && std::memcmp(data, magic, n) == 0;
}

// A TGA file has no magic number; accept the header only when every field is
// one a writer would produce.
bool PlausibleTga(const uint8_t* d, size_t size)
{
    if (size < 18)
        return false;
    const uint8_t mapType = d[1], imageType = d[2], pixelDepth = d[16];
    const uint16_t mapLength = Le16(d + 5);
    const uint8_t mapEntryBits = d[7];
    const uint16_t width = Le16(d + 12), height = Le16(d + 14);
    if (mapType > 1 || width == 0 || height == 0)
        return false;
    if (d[17] & 0xC0)  // interleaving bits: never written by anyone we read
        return false;
    switch (imageType) {
    case 1: case 9:
        if (mapType != 1 || mapLength == 0 || (pixelDepth != 8 && pixelDepth != 16))
            return false;
        break;
    case 2: case 10:
        if (pixelDepth != 15 && pixelDepth != 16 && pixelDepth != 24 && pixelDepth != 32)
            return false;
        break;
    case 3: case 11:
        if (pixelDepth != 8 && pixelDepth != 16)
            return false;
        break;
    default:
        return false;
    }
    if (mapType == 1 && mapEntryBits != 15 && mapEntryBits != 16 && mapEntryBits != 24 && mapEntryBits != 32)
        return false;
    return true;
}

bool PlausiblePcx(const uint8_t* d, size_t size)
{
    if (size < 128 || d[0] != 0x0A || d[1] > 5 || d[2] > 1)
        return false;
    const uint8_t bpp = d[3], planes = d[65];
    if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8)
        return false;
    if (planes < 1 || planes > 4)
        return false;
    return Le16(d + 8) >= Le16(d + 4) && Le16(d + 10) >= Le16(d + 6);
}

uint32_t Be32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// An ISO-BMFF file starts with its "ftyp" box: a major brand, a version and
// compatible brands. AVIF pictures name "avif" (still) or "avis" (sequence)
// there; HEIF and MP4 files carry the same box with other brands.
bool AvifBrand(const uint8_t* d, size_t size)
{
    if (size < 16 || std::memcmp(d + 4, "ftyp", 4) != 0)
        return false;
    const uint32_t boxSize = Be32(d);
    if (boxSize < 16 || boxSize > 4096)
        return false;
    const size_t end = std::min<size_t>(boxSize, size);
    auto isAvif = [](const uint8_t* b) { return std::memcmp(b, "avif", 4) == 0 || std::memcmp(b, "avis", 4) == 0; };
    if (isAvif(d + 8))
        return true;
    for (size_t at = 16; at + 4 <= end; at += 4)
        if (isAvif(d + at))
            return true;
    return false;
}

void Decode(int typeCode, const uint8_t* data, size_t size, DibHandle& out)
{
    switch (typeCode) {
    case dtBMP: case dtDIB: case dtRLE: DecodeBmp(data, size, out); break;
    case dtGIF: DecodeGif(data, size, out); break;
    case dtIFF: case dtLBM: DecodeIff(data, size, out); break;
    case dtJIF: case dtJPG: DecodeJpeg(data, size, out); break;
    case dtPCX: DecodePcx(data, size, out); break;
    case dtTGA: DecodeTga(data, size, out); break;
    case dtTIF: DecodeTiff(data, size, out); break;
    case dtPNG: DecodePng(data, size, out); break;
    case dtWEBP: DecodeWebp(data, size, out); break;
    case dtAVIF: DecodeAvif(data, size, out); break;
    default:
        out.Bits = nullptr;
        out.ErrorText = "Unbekannter Dateityp";
        break;
    }
}

// The decoder family of a type code, so a retry by content is only made when
// it picks a different decoder.
int Family(int typeCode)
{
    switch (typeCode) {
    case dtDIB: case dtRLE: return dtBMP;
    case dtLBM: return dtIFF;
    case dtJIF: return dtJPG;
    default: return typeCode;
    }
}

void ClearRecord(DibHandle& out)
{
    out.Info = nullptr;
    out.Bits = nullptr;
    out.RowBytes = 0;
    out.HasPalette = 0;
    out.PaletteHandle = nullptr;
    out.ErrorText.clear();
}

}  // namespace

int DetectDibType(const uint8_t* data, size_t size)
{
    if (!data)
        return dtAuto;
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return dtJPG;
    if (StartsWith(data, size, "\x89PNG\r\n\x1a\n", 8))
        return dtPNG;
    if (StartsWith(data, size, "GIF87a", 6) || StartsWith(data, size, "GIF89a", 6))
        return dtGIF;
    if (StartsWith(data, size, "II*\0", 4) || StartsWith(data, size, "MM\0*", 4))
        return dtTIF;
    if (StartsWith(data, size, "BM", 2) && size >= 18)
        return dtBMP;
    if (StartsWith(data, size, "FORM", 4) && size >= 12 &&
        (std::memcmp(data + 8, "ILBM", 4) == 0 || std::memcmp(data + 8, "PBM ", 4) == 0))
        return dtIFF;
    if (size >= 12 && StartsWith(data, size, "RIFF", 4) && std::memcmp(data + 8, "WEBP", 4) == 0)
        return dtWEBP;
    if (AvifBrand(data, size))
        return dtAVIF;
    if (PlausiblePcx(data, size))
        return dtPCX;
    if (PlausibleTga(data, size))
        return dtTGA;
    return dtAuto;
}

void OpenDibFromMemory(DibHandle& out, const uint8_t* data, size_t size, int typeCode)
{
    TPixelBudgetScope budget;
    ClearRecord(out);
    if (!data || size == 0) {
        out.ErrorText = "Datei ist leer";
        return;
    }
    const int byContent = DetectDibType(data, size);
    if (typeCode == dtAuto) {
        if (byContent == dtAuto) {
            out.ErrorText = "Unbekanntes Dateiformat";
            return;
        }
        Decode(byContent, data, size, out);
        return;
    }
    Decode(typeCode, data, size, out);
    if (out.Bits || byContent == dtAuto || byContent == Family(typeCode))
        return;
    const std::string firstError = out.ErrorText;
    ClearRecord(out);
    Decode(byContent, data, size, out);
    if (!out.Bits)
        out.ErrorText = firstError.empty() ? out.ErrorText : firstError;
}

namespace {

// The whole file in memory, or null with errorText saying why.
std::unique_ptr<uint8_t, decltype(&std::free)> ReadWholeFile(const char* path, size_t& size, std::string& errorText)
{
    std::unique_ptr<uint8_t, decltype(&std::free)> none(nullptr, &std::free);
    size = 0;
    if (!path || !*path) {
        errorText = "Datei nicht gefunden";
        return none;
    }
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        errorText = (errno == ENOENT || errno == ENOTDIR) ? "Datei nicht gefunden" : "Datei nicht lesbar";
        return none;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errorText = "Datei nicht lesbar";
        return none;
    }
    if (static_cast<uint64_t>(st.st_size) > kMaxDibFileBytes) {
        ::close(fd);
        errorText = "Datei zu groß";
        return none;
    }
    const size_t want = static_cast<size_t>(st.st_size);
    std::unique_ptr<uint8_t, decltype(&std::free)> buffer(static_cast<uint8_t*>(std::malloc(want ? want : 1)), &std::free);
    if (!buffer) {
        ::close(fd);
        errorText = "Zu wenig Speicher";
        return none;
    }
    size_t got = 0;
    while (got < want) {
        const ssize_t n = ::read(fd, buffer.get() + got, want - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (got != want) {
        errorText = "Datei nicht lesbar";
        return none;
    }
    size = want;
    return buffer;
}

}  // namespace

void OpenDib(DibHandle& out, const char* path, int typeCode, void* /*ownerWindow*/)
{
    TPixelBudgetScope budget;
    ClearRecord(out);
    size_t size = 0;
    auto buffer = ReadWholeFile(path, size, out.ErrorText);
    if (!buffer)
        return;
    OpenDibFromMemory(out, buffer.get(), size, typeCode);
}

namespace {

using ReducedDecoder = bool (*)(const uint8_t*, size_t, DibHandle&, WantedSize, int32_t&, int32_t&);

bool OpenReduced(DibHandle& out, const char* path, WantedSize wanted, int32_t& fullWidth, int32_t& fullHeight,
                 ReducedDecoder decode)
{
    ClearRecord(out);
    fullWidth = fullHeight = 0;
    size_t size = 0;
    auto buffer = ReadWholeFile(path, size, out.ErrorText);
    if (!buffer)
        return false;
    TPixelBudgetScope budget;
    return decode(buffer.get(), size, out, wanted, fullWidth, fullHeight);
}

}  // namespace

bool OpenJpegReduced(DibHandle& out, const char* path, WantedSize wanted, int32_t& fullWidth, int32_t& fullHeight)
{
    return OpenReduced(out, path, wanted, fullWidth, fullHeight, &DecodeJpegReduced);
}

bool OpenWebpScaled(DibHandle& out, const char* path, WantedSize wanted, int32_t& fullWidth, int32_t& fullHeight)
{
    return OpenReduced(out, path, wanted, fullWidth, fullHeight, &DecodeWebpScaled);
}

}  // namespace raster
