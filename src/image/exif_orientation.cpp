#include "image/exif_orientation.h"

#include <optional>

#include "io/byte_reader.h"

namespace velto {

namespace {

constexpr int64_t kOrientationTag = 274;
constexpr int64_t kTypeShort = 3;
constexpr std::string_view kExifPrefix("Exif\0\0", 6);

// The Orientation value as stored, or nothing when absent, not a single SHORT, or the
// structure is malformed.
std::optional<int64_t> findOrientation(std::string_view tiff) {
  if (tiff.size() < 8 || tiff[0] != tiff[1] || (tiff[0] != 'I' && tiff[0] != 'M')) {
    return std::nullopt;
  }
  const ByteReader r(tiff, /*littleEndian=*/tiff[0] == 'I');
  if (r.u16(2) != 42) return std::nullopt;
  const int64_t ifd = r.u32(4);
  if (ifd < 8 || !r.has(ifd, 2)) return std::nullopt;
  const int64_t count = r.u16(ifd);
  for (int64_t i = 0; i < count; ++i) {
    const int64_t entry = ifd + 2 + i * 12;
    if (!r.has(entry, 12)) return std::nullopt;
    if (r.u16(entry) != kOrientationTag) continue;
    // A single SHORT sits left-justified in the 4-byte value field, whatever the byte order.
    if (r.u16(entry + 2) != kTypeShort || r.u32(entry + 4) != 1) return std::nullopt;
    return r.u16(entry + 8);
  }
  return std::nullopt;
}

}  // namespace

int64_t orientationFromExif(std::string_view exif) {
  // Some PNG and WebP writers keep the JPEG-style prefix in their Exif chunks.
  if (exif.substr(0, kExifPrefix.size()) == kExifPrefix) exif.remove_prefix(kExifPrefix.size());
  const std::optional<int64_t> value = findOrientation(exif);
  return value && *value >= 1 && *value <= 8 ? *value : 1;
}

int64_t orientationInPng(std::string_view png) {
  const ByteReader r(png, /*littleEndian=*/false);
  // Chunks: length, type, data, CRC. eXIf may come before or after the image data.
  for (int64_t at = 8; r.has(at, 8);) {
    const int64_t length = r.u32(at);
    const std::string_view type = png.substr(static_cast<size_t>(at + 4), 4);
    if (!r.has(at + 8, length) || type == "IEND") break;
    if (type == "eXIf")
      return orientationFromExif(
          png.substr(static_cast<size_t>(at + 8), static_cast<size_t>(length)));
    at += 12 + length;
  }
  return 1;
}

int64_t orientationInWebp(std::string_view webp) {
  const ByteReader r(webp, /*littleEndian=*/true);
  // RIFF chunks after the 12-byte "RIFF" size "WEBP" header: fourcc, size, data padded to even.
  for (int64_t at = 12; r.has(at, 8);) {
    const int64_t size = r.u32(at + 4);
    if (!r.has(at + 8, size)) break;
    if (webp.substr(static_cast<size_t>(at), 4) == "EXIF") {
      return orientationFromExif(
          webp.substr(static_cast<size_t>(at + 8), static_cast<size_t>(size)));
    }
    at += 8 + size + (size & 1);
  }
  return 1;
}

}  // namespace velto
