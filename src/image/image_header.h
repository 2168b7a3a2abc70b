#pragma once
// Telling an image file's format and declared pixel size from its first bytes, before any
// decoder sees it, so that nothing is allocated for an image too large to be worth decoding.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

namespace velto {

enum class ImageFormat { Unknown, Jpeg, Png, Webp, Tiff, Bmp, Heif };

struct ImageSize {
  int64_t width = 0;
  int64_t height = 0;
  bool operator==(const ImageSize&) const = default;
};

// The format by magic bytes alone (the file name plays no part). HEIF means an ISO media file
// whose ftyp box names a HEIF or AVIF still-image brand.
ImageFormat sniffFormat(std::string_view bytes);

// The size the header of an image of `format` declares: JPEG's first SOFn, PNG's IHDR, WebP's
// VP8/VP8L/VP8X, BMP's info header, classic TIFF's first IFD. Nothing when the header is cut
// short, malformed or of another format; HEIF is not read here (libheif does that).
std::optional<ImageSize> readDeclaredSize(std::string_view bytes, ImageFormat format);

// Whether an image of `size` may be decoded: both sides at least 1 and at most
// MAX_IMAGE_PIXELS pixels in all.
bool acceptableSize(ImageSize size);

// Images of more pixels than this are decoded one at a time, however many photos are in
// flight: one at the pixel limit may need about 3 GiB, a camera's photo a few hundred MB.
inline constexpr int64_t LARGE_IMAGE_PIXELS = int64_t{64} << 20;

// To hold while an image of `size` is decoded: the one lock for large images, or none.
std::unique_lock<std::mutex> largeImageLock(ImageSize size);

}  // namespace velto
