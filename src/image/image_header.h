#pragma once
// Telling an image file's format and declared pixel size from its first bytes, before any
// decoder sees it, so that nothing is allocated for an image too large to be worth decoding.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>

namespace velto {

enum class ImageFormat { kUnknown, kJpeg, kPng, kWebp, kTiff, kBmp, kHeif, kGif, kJxl, kRaw };

struct ImageSize {
  int64_t width = 0;
  int64_t height = 0;
  bool operator==(const ImageSize&) const = default;
};

// The format by magic bytes alone (the file name plays no part). HEIF means an ISO media file
// whose ftyp box names a HEIF or AVIF still-image brand. Raw means a camera raw file: CR3, RAF,
// ORF, RW2 by their own signatures, and DNG, CR2, NEF, ARW, PEF and the like, which begin like
// TIFF, by what their first directory holds (see isCameraRaw).
ImageFormat sniffFormat(std::string_view bytes);

// The size the header of an image of `format` declares: JPEG's first SOFn, PNG's IHDR, WebP's
// VP8/VP8L/VP8X, BMP's info header, classic TIFF's first IFD, GIF's logical screen. Nothing when
// the header is cut short, malformed or of another format; HEIF, JPEG XL and camera raw files
// are not read here (their libraries report the size before allocating pixels).
std::optional<ImageSize> readDeclaredSize(std::string_view bytes, ImageFormat format);

// Whether a TIFF-structured file (TIFF, DNG, CR2, NEF, ...) is whole: every directory reached
// from the first (by the chain and by SubIFDs, up to 16 of them) and every value, strip and
// tile they point to lie inside the bytes. A file cut short fails, as does one whose
// directories loop. Decoders would otherwise read the missing data as zeros or skip it.
bool tiffWithinFile(std::string_view bytes);

// Whether an image of `size` may be decoded: both sides at least 1 and at most
// kMaxImagePixels pixels in all.
bool acceptableSize(ImageSize size);

// Whether a file of `fileBytes` pays for decoding `size` pixels: up to kFreePixels always,
// beyond that at least one byte per kPixelsPerByte pixels. For formats whose libraries must
// hold the whole picture (PNG, TIFF, BMP, JPEG XL, a GIF frame): a flat 16384 x 16384 picture
// compresses to a few kilobytes but would cost gigabytes and seconds to decode, while camera
// photos take well over a bit per pixel.
bool paidForByBytes(ImageSize size, int64_t fileBytes);
inline constexpr int64_t kFreePixels = int64_t{1} << 24;
inline constexpr int64_t kPixelsPerByte = 8;

// Images of more pixels than this are decoded one at a time, however many photos are in
// flight: one at the pixel limit may need about 3 GiB, a camera's photo a few hundred MB.
inline constexpr int64_t kLargeImagePixels = int64_t{64} << 20;

// To hold while an image of `size` is decoded: the one lock for large images, or none.
std::unique_lock<std::mutex> largeImageLock(ImageSize size);

}  // namespace velto
