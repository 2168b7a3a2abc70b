#include "image/image_header.h"

#include <array>
#include <cstdlib>

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

}  // namespace

ImageFormat sniffFormat(std::string_view bytes) {
  if (startsWith(bytes, "\xFF\xD8\xFF")) return ImageFormat::Jpeg;
  if (startsWith(bytes, "\x89PNG\r\n\x1A\n")) return ImageFormat::Png;
  if (startsWith(bytes, "RIFF") && slice(bytes, 8, 4) == "WEBP") return ImageFormat::Webp;
  if (startsWith(bytes, std::string_view("II*\0", 4)) ||
      startsWith(bytes, std::string_view("MM\0*", 4))) {
    return ImageFormat::Tiff;
  }
  if (startsWith(bytes, "BM")) return ImageFormat::Bmp;
  if (bytes.size() >= 16 && isHeif(bytes)) return ImageFormat::Heif;
  return ImageFormat::Unknown;
}

std::optional<ImageSize> readDeclaredSize(std::string_view bytes, ImageFormat format) {
  if (format != sniffFormat(bytes)) return std::nullopt;
  switch (format) {
    case ImageFormat::Jpeg:
      return jpegSize(bytes);
    case ImageFormat::Png:
      return pngSize(bytes);
    case ImageFormat::Webp:
      return webpSize(bytes);
    case ImageFormat::Tiff:
      return tiffSize(bytes);
    case ImageFormat::Bmp:
      return bmpSize(bytes);
    case ImageFormat::Heif:
    case ImageFormat::Unknown:
      return std::nullopt;
  }
  return std::nullopt;
}

bool acceptableSize(ImageSize size) {
  // Headers declare sides of up to 2^32 - 1, whose product overflows 64 bits; each side is
  // therefore bounded by the pixel limit first (the other side is at least 1), which keeps the
  // product below 2^56.
  return size.width >= 1 && size.height >= 1 && size.width <= MAX_IMAGE_PIXELS &&
         size.height <= MAX_IMAGE_PIXELS && size.width * size.height <= MAX_IMAGE_PIXELS;
}

std::unique_lock<std::mutex> largeImageLock(ImageSize size) {
  static std::mutex large;
  if (!acceptableSize(size) || size.width * size.height <= LARGE_IMAGE_PIXELS) return {};
  return std::unique_lock(large);
}

}  // namespace velto
