#pragma once
// Turning any photo file into an upright 8-bit RGB picture of modest size for the network.
//
// Formats are told by content, never by file name: JPEG, PNG, WebP, TIFF (classic, first page),
// BMP, GIF, HEIF/HEIC/AVIF, JPEG XL and camera raw files; of animations, the first frame.
// Anything else gives nothing. Exif orientation is applied once, wherever the format keeps it
// (JPEG APP1, PNG eXIf, WebP EXIF, TIFF IFD0, the raw file's own tags); HEIF and JPEG XL files
// are turned by their libraries from their own headers instead. A file cut short before
// its end marker gives nothing rather than a picture half filled with grey, and so does a JPEG
// whose coded data ends or breaks early though an end marker follows. Colour profiles
// and PNG gamma are not applied.

#include <cstdint>
#include <opencv2/core.hpp>
#include <optional>
#include <string>

namespace velto {

// Images declaring more pixels than this are refused from their header alone, before any
// pixel memory exists: 256 megapixels is far beyond any camera, while a decompression bomb (a
// small file declaring 100000 x 100000 pixels) would otherwise ask for tens of gigabytes.
// With it, one decode needs at most about 3 GiB (a 16-bit RGBA PNG at the limit).
inline constexpr int64_t kMaxImagePixels = int64_t{256} << 20;
// A HEIF thumbnail with a short side of at least this many pixels (the network's input side)
// stands in for the full picture, even when it falls short of the requested size.
inline constexpr int64_t kHeifThumbnailMinShortSide = 224;
// Files larger than this, and anything but regular files, are not read at all.
inline constexpr int64_t kMaxImageFileBytes = int64_t{512} << 20;

// The image at `path`, upright, as 8-bit RGB (CV_8UC3, R first), decoded at a reduced scale
// where the format allows, with a short side of at least `minShortSide` when the image has one
// that large, and at full size when it has not. JPEG is decoded at the smallest n/8 scale
// that keeps that short side, HEIF from a thumbnail that is large enough; then every image is
// shrunk by the largest whole factor that keeps it (area average). Nothing for anything that
// cannot be decoded. Never prints, throws or aborts.
std::optional<cv::Mat> decodeImage(const std::string& path, int64_t minShortSide);

// Same, from bytes already in memory (used by fuzzing).
std::optional<cv::Mat> decodeImageBytes(const std::string& bytes, int64_t minShortSide);

}  // namespace velto
