#include "image/image_header.h"

#include <array>
#include <cstdlib>
#include <vector>

#include "image/image_decode.h"
#include "io/byte_reader.h"

namespace velto {

namespace {

// The `n` bytes at `at`, or fewer (possibly none) where the bytes end; never throws, unlike
// string_view::substr past the end.
std::string_view slice(std::string_view bytes, size_t at, size_t n) {
  return at > bytes.size() ? std::string_view() : bytes.substr(at, n);
}

bool startsWith(std::string_view bytes, std::string_view prefix) {
  return slice(bytes, 0, prefix.size()) == prefix;
}

bool isHeifBrand(std::string_view brand) {
  static constexpr std::array<std::string_view, 10> kBrands = {
      "heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1", "avif", "avis"};
  for (const std::string_view b : kBrands) {
    if (brand == b) return true;
  }
  return false;
}

bool isHeif(std::string_view bytes) {
  const ByteReader r(bytes, /*littleEndian=*/false);
  if (slice(bytes, 4, 4) != "ftyp") return false;
  const int64_t boxSize = r.u32(0);
  if (boxSize < 16 || boxSize > r.size()) return false;
  if (isHeifBrand(slice(bytes, 8, 4))) return true;
  // Bytes 12-15 are the minor version; the compatible brands follow.
  for (int64_t at = 16; at + 4 <= boxSize; at += 4) {
    if (isHeifBrand(slice(bytes, static_cast<size_t>(at), 4))) return true;
  }
  return false;
}

bool isSofMarker(int64_t marker) {
  // C4 (DHT), C8 (JPG extension) and CC (DAC) share the range but are no frame headers.
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

std::optional<ImageSize> jpegSize(std::string_view bytes) {
  const ByteReader r(bytes, /*littleEndian=*/false);
  int64_t at = 2;
  for (;;) {
    // Like libjpeg, skip stray bytes before a marker and any number of 0xFF fill bytes.
    while (at < r.size() && r.u8(at) != 0xFF) ++at;
    while (at < r.size() && r.u8(at) == 0xFF) ++at;
    if (at >= r.size()) return std::nullopt;
    const int64_t marker = r.u8(at++);
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;           // no length field
    if (marker == 0xD8 || marker == 0xD9 || marker == 0xDA) return std::nullopt;  // no SOF first
    const int64_t length = r.u16(at);
    if (length < 2) return std::nullopt;
    if (isSofMarker(marker)) {
      if (length < 8 || at + 7 > r.size()) return std::nullopt;
      return ImageSize{r.u16(at + 5), r.u16(at + 3)};
    }
    at += length;
  }
}

std::optional<ImageSize> pngSize(std::string_view bytes) {
  const ByteReader r(bytes, /*littleEndian=*/false);
  if (r.size() < 24 || slice(bytes, 12, 4) != "IHDR") return std::nullopt;
  return ImageSize{r.u32(16), r.u32(20)};
}

std::optional<ImageSize> webpSize(std::string_view bytes) {
  const ByteReader r(bytes, /*littleEndian=*/true);
  if (r.size() < 30) return std::nullopt;
  const std::string_view chunk = slice(bytes, 12, 4);
  if (chunk == "VP8 ") {
    if (r.u8(23) != 0x9D || r.u8(24) != 0x01 || r.u8(25) != 0x2A) return std::nullopt;
    return ImageSize{r.u16(26) & 0x3FFF, r.u16(28) & 0x3FFF};
  }
  if (chunk == "VP8L") {
    if (r.u8(20) != 0x2F) return std::nullopt;
    const int64_t bits = r.u32(21);
    return ImageSize{(bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1};
  }
  if (chunk == "VP8X") return ImageSize{r.u24(24) + 1, r.u24(27) + 1};
  return std::nullopt;
}

std::optional<ImageSize> bmpSize(std::string_view bytes) {
  const ByteReader r(bytes, /*littleEndian=*/true);
  const int64_t infoSize = r.u32(14);
  if (infoSize == 12) {  // OS/2 core header: 16-bit unsigned sides
    if (r.size() < 22) return std::nullopt;
    return ImageSize{r.u16(18), r.u16(20)};
  }
  if (infoSize < 40 || r.size() < 26) return std::nullopt;
  // Negative heights mark top-down rows; a negative width is simply invalid.
  return ImageSize{r.s32(18), std::abs(r.s32(22))};
}

// A TIFF-like file is a camera's raw file rather than a picture when its first directory marks
// it so: a DNG version, colour-filter or linear raw samples, a compression only raw decoders
// know, or a reduced-size first image with the real ones in sub-directories (NEF, ARW, DNG).
// libtiff would otherwise show the sensor data or the tiny first image.
bool tiffHoldsCameraRaw(std::string_view bytes) {
  const ByteReader r(bytes, /*littleEndian=*/bytes[0] == 'I');
  if (slice(bytes, 8, 2) == "CR") return true;  // Canon CR2
  const int64_t ifd = r.u32(4);
  const int64_t count = r.u16(ifd);
  if (ifd < 8 || ifd + 2 + count * 12 > r.size()) return false;
  bool reduced = false, subIfds = false;
  for (int64_t i = 0; i < count; ++i) {
    const int64_t entry = ifd + 2 + i * 12;
    const int64_t tag = r.u16(entry);
    const int64_t value = r.u16(entry + 2) == 4 ? r.u32(entry + 8) : r.u16(entry + 8);
    if (tag == 50706) return true;                                      // DNGVersion
    if (tag == 262 && (value == 32803 || value == 34892)) return true;  // CFA, LinearRaw
    if (tag == 259 && (value == 32767 || value == 32769 || value == 32770 || value == 32867 ||
                       value == 34713 || value == 65000 || value == 65535)) {
      return true;  // Sony, Samsung, Nikon, Kodak and Pentax raw compressions
    }
    if (tag == 254) reduced = (value & 1) != 0;
    if (tag == 330) subIfds = true;
  }
  return reduced && subIfds;
}

bool isOtherCameraRaw(std::string_view bytes) {
  return startsWith(bytes, "FUJIFILMCCD-RAW") ||                                          // RAF
         startsWith(bytes, "IIRO") || startsWith(bytes, "IIRS") ||                        // ORF
         startsWith(bytes, "MMOR") || startsWith(bytes, std::string_view("IIU\0", 4)) ||  // RW2
         (slice(bytes, 4, 8) == "ftypcrx ");                                              // CR3
}

std::optional<ImageSize> gifSize(std::string_view bytes) {
  const ByteReader r(bytes, /*littleEndian=*/true);
  if (r.size() < 10) return std::nullopt;
  return ImageSize{r.u16(6), r.u16(8)};
}

std::optional<ImageSize> tiffSize(std::string_view bytes) {
  const ByteReader r(bytes, /*littleEndian=*/bytes[0] == 'I');
  if (r.u16(2) != 42) return std::nullopt;  // BigTIFF (43) is not supported
  const int64_t ifd = r.u32(4);
  const int64_t count = r.u16(ifd);
  if (ifd < 8 || ifd + 2 + count * 12 > r.size()) return std::nullopt;
  int64_t width = -1;
  int64_t height = -1;
  for (int64_t i = 0; i < count; ++i) {
    const int64_t entry = ifd + 2 + i * 12;
    const int64_t tag = r.u16(entry);
    const int64_t type = r.u16(entry + 2);
    if (tag != 256 && tag != 257) continue;
    int64_t value = -1;
    if (type == 3) value = r.u16(entry + 8);  // SHORT
    if (type == 4) value = r.u32(entry + 8);  // LONG
    (tag == 256 ? width : height) = value;
  }
  if (width < 0 || height < 0) return std::nullopt;
  return ImageSize{width, height};
}

// Bytes per value of each TIFF field type: BYTE, ASCII, SHORT, LONG, RATIONAL, SBYTE,
// UNDEFINED, SSHORT, SLONG, SRATIONAL, FLOAT, DOUBLE, IFD; 0 for unknown types.
int64_t tiffTypeSize(int64_t type) {
  static constexpr std::array<int64_t, 14> kSizes = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type >= 0 && type < 14 ? kSizes[type] : 0;
}

}  // namespace

bool tiffWithinFile(std::string_view bytes) {
  const ByteReader r(bytes, /*littleEndian=*/bytes.substr(0, 1) == "I");
  // Directories to check: the chain from the first, and sub-directories of those. Real files
  // have a handful; the bound keeps a hostile file's loops and fan-out cheap.
  constexpr int64_t kMaxDirectories = 16;
  std::vector<int64_t> pending = {r.u32(4)};
  int64_t visited = 0;
  while (!pending.empty()) {
    if (++visited > kMaxDirectories) return false;
    const int64_t ifd = pending.back();
    pending.pop_back();
    const int64_t count = r.u16(ifd);
    if (ifd < 8 || !r.has(ifd, 2 + count * 12 + 4)) return false;
    // Where the strip (0) and tile (1) offsets and lengths are: {position, type, count}.
    std::array<std::array<int64_t, 3>, 2> offsets{}, lengths{};
    for (int64_t i = 0; i < count; ++i) {
      const int64_t entry = ifd + 2 + i * 12;
      const int64_t tag = r.u16(entry), type = r.u16(entry + 2), n = r.u32(entry + 4);
      const int64_t size = tiffTypeSize(type) * n;
      const int64_t at = size > 4 ? r.u32(entry + 8) : entry + 8;
      if (!r.has(at, size)) return false;
      if (type != 3 && type != 4 && type != 13) continue;
      if (tag == 273 || tag == 324) offsets[tag == 324] = {at, type, n};
      if (tag == 279 || tag == 325) lengths[tag == 325] = {at, type, n};
      if (tag == 330 && n > kMaxDirectories) return false;
      for (int64_t k = 0; tag == 330 && k < n; ++k) pending.push_back(r.u32(at + 4 * k));
    }
    auto value = [&](const std::array<int64_t, 3>& v, int64_t k) {
      return v[1] == 3 ? r.u16(v[0] + 2 * k) : r.u32(v[0] + 4 * k);
    };
    for (int k = 0; k < 2; ++k) {
      for (int64_t j = 0; j < offsets[k][2] && j < lengths[k][2]; ++j) {
        if (!r.has(value(offsets[k], j), value(lengths[k], j))) return false;
      }
    }
    const int64_t next = r.u32(ifd + 2 + count * 12);
    if (next != 0) pending.push_back(next);
  }
  return true;
}

ImageFormat sniffFormat(std::string_view bytes) {
  if (startsWith(bytes, "\xFF\xD8\xFF")) return ImageFormat::kJpeg;
  if (startsWith(bytes, "\x89PNG\r\n\x1A\n")) return ImageFormat::kPng;
  if (startsWith(bytes, "RIFF") && slice(bytes, 8, 4) == "WEBP") return ImageFormat::kWebp;
  if (startsWith(bytes, std::string_view("II*\0", 4)) ||
      startsWith(bytes, std::string_view("MM\0*", 4))) {
    return tiffHoldsCameraRaw(bytes) ? ImageFormat::kRaw : ImageFormat::kTiff;
  }
  if (isOtherCameraRaw(bytes)) return ImageFormat::kRaw;
  if (startsWith(bytes, "GIF87a") || startsWith(bytes, "GIF89a")) return ImageFormat::kGif;
  // A bare JPEG XL code stream, or the container's signature box.
  if (startsWith(bytes, "\xFF\x0A") ||
      startsWith(bytes, std::string_view("\0\0\0\x0CJXL \r\n\x87\n", 12))) {
    return ImageFormat::kJxl;
  }
  if (startsWith(bytes, "BM")) return ImageFormat::kBmp;
  if (bytes.size() >= 16 && isHeif(bytes)) return ImageFormat::kHeif;
  return ImageFormat::kUnknown;
}

std::optional<ImageSize> readDeclaredSize(std::string_view bytes, ImageFormat format) {
  if (format != sniffFormat(bytes)) return std::nullopt;
  switch (format) {
    case ImageFormat::kJpeg:
      return jpegSize(bytes);
    case ImageFormat::kPng:
      return pngSize(bytes);
    case ImageFormat::kWebp:
      return webpSize(bytes);
    case ImageFormat::kTiff:
      return tiffSize(bytes);
    case ImageFormat::kBmp:
      return bmpSize(bytes);
    case ImageFormat::kGif:
      return gifSize(bytes);
    case ImageFormat::kHeif:
    case ImageFormat::kJxl:
    case ImageFormat::kRaw:
    case ImageFormat::kUnknown:
      return std::nullopt;
  }
  return std::nullopt;
}

bool acceptableSize(ImageSize size) {
  // Headers declare sides of up to 2^32 - 1, whose product overflows 64 bits; each side is
  // therefore bounded by the pixel limit first (the other side is at least 1), which keeps the
  // product below 2^56.
  return size.width >= 1 && size.height >= 1 && size.width <= kMaxImagePixels &&
         size.height <= kMaxImagePixels && size.width * size.height <= kMaxImagePixels;
}

bool paidForByBytes(ImageSize size, int64_t fileBytes) {
  if (!acceptableSize(size)) return false;
  const int64_t pixels = size.width * size.height;
  return pixels <= kFreePixels || pixels / kPixelsPerByte <= fileBytes;
}

std::unique_lock<std::mutex> largeImageLock(ImageSize size) {
  static std::mutex large;
  if (!acceptableSize(size) || size.width * size.height <= kLargeImagePixels) return {};
  return std::unique_lock(large);
}

}  // namespace velto
