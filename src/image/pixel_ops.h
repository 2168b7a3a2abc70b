#pragma once
// The steps every decoded image goes through on its way to upright 8-bit RGB.

#include <cstdint>
#include <opencv2/core.hpp>
#include <optional>

namespace velto {

// Pixels as a decoder delivers them.
struct RawImage {
  cv::Mat pixels;              // CV_8U or CV_16U; 1 (grey), 2 (grey, alpha), 3 or 4 (colour, alpha)
  bool bgr = false;            // colour in OpenCV's B, G, R order rather than R, G, B
  bool premultiplied = false;  // colour already multiplied by alpha
  int64_t orientation = 1;     // Exif orientation still to be applied, 1-8
};

// CV_8UC3 R, G, B: grey repeated in all three, alpha composited on white
// (a*c + (1-a)*255, or c + (1-a)*255 when premultiplied), 16-bit values divided by 257; each
// rounded to nearest. Nothing for other depths or channel counts.
std::optional<cv::Mat> toRgb8(const RawImage& raw);

// Shrinks by the largest whole factor that keeps the short side >= minShortSide, averaging
// the pixels each output pixel covers; unchanged when that factor is 1. minShortSide < 1
// counts as 1.
cv::Mat reduceToShortSide(const cv::Mat& image, int64_t minShortSide);

// A CV_8UC3 image no smaller than width x height on either side, shrunk to exactly that size:
// each output pixel the mean of the area it covers (inputs cut by its edges count by the part
// inside), rounded to the nearest level.
cv::Mat shrinkByArea(const cv::Mat& rgb8, int64_t width, int64_t height);

// The stored pixels as they are to be shown under Exif orientation 1-8 (others: as stored).
cv::Mat applyOrientation(const cv::Mat& image, int64_t orientation);

}  // namespace velto
