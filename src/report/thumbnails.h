#pragma once
// Small JPEG pictures of the photos for the report's contact sheet.

#include <cstdint>
#include <opencv2/core.hpp>
#include <optional>
#include <string>

namespace velto {

// Long side of a thumbnail in pixels; smaller pictures keep their own size.
inline constexpr int64_t kThumbnailLongSide = 160;

struct Thumbnail {
  std::string jpeg;  // a complete JPEG file
  int64_t width = 0;
  int64_t height = 0;
};

// The upright 8-bit RGB picture `rgb8` shrunk by area averaging to kThumbnailLongSide on its
// long side and encoded as JPEG; nothing for an empty picture or when encoding fails.
std::optional<Thumbnail> thumbnailOf(const cv::Mat& rgb8);

// The photo at `path`, decoded like the feature prints' input (format by content, orientation
// applied), as a thumbnail; nothing when the file cannot be decoded.
std::optional<Thumbnail> makeThumbnail(const std::string& path);

}  // namespace velto
