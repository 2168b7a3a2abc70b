#include "report/thumbnails.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "image/image_decode.h"

namespace velto {

namespace {

// Enough for small pictures that still show their subject, at a few kilobytes each.
constexpr int kJpegQuality = 82;

}  // namespace

std::optional<Thumbnail> thumbnailOf(const cv::Mat& rgb8) {
  if (rgb8.empty() || rgb8.type() != CV_8UC3) return std::nullopt;
  const int64_t longSide = std::max(rgb8.cols, rgb8.rows);
  cv::Mat small = rgb8;
  if (longSide > kThumbnailLongSide) {
    const double scale = static_cast<double>(kThumbnailLongSide) / static_cast<double>(longSide);
    const auto side = [&](int pixels) {
      return std::max(1, static_cast<int>(std::lround(pixels * scale)));
    };
    cv::resize(rgb8, small, cv::Size(side(rgb8.cols), side(rgb8.rows)), 0, 0, cv::INTER_AREA);
  }
  cv::Mat bgr;
  cv::cvtColor(small, bgr, cv::COLOR_RGB2BGR);  // the encoder takes OpenCV's channel order
  std::vector<uchar> bytes;
  try {
    if (!cv::imencode(".jpg", bgr, bytes, {cv::IMWRITE_JPEG_QUALITY, kJpegQuality})) {
      return std::nullopt;
    }
  } catch (const cv::Exception&) {
    return std::nullopt;
  }
  Thumbnail t;
  t.jpeg.assign(bytes.begin(), bytes.end());
  t.width = bgr.cols;
  t.height = bgr.rows;
  return t;
}

std::optional<Thumbnail> makeThumbnail(const std::string& path) {
  // A short side of kThumbnailLongSide guarantees a long side at least as large, so the last
  // step only ever shrinks; the decoder does the bulk of it at reduced scale.
  const std::optional<cv::Mat> image = decodeImage(path, kThumbnailLongSide);
  if (!image) return std::nullopt;
  return thumbnailOf(*image);
}

}  // namespace velto
