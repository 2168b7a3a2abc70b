#pragma once
// The gradient layout: where the picture has edges and which way they run, from log luma, so
// that it stays nearly the same when the scene is shot brighter or darker.

#include <cstdint>
#include <vector>

namespace cv {
class Mat;
}

namespace velto {

// kGradientCells x kGradientCells cells, kGradientOrientations orientations (0 to 180 degrees)
// each.
inline constexpr int64_t kGradientCells = 4;
inline constexpr int64_t kGradientOrientations = 8;
inline constexpr int64_t kGradientFeatures =
    kGradientCells * kGradientCells * kGradientOrientations;

// The gradient layout of a network input (CV_32FC3, kNetworkInputSide squared, RGB, each value an
// 8-bit level divided by 255). From the levels: L = log(0.299 R + 0.587 G + 0.114 B + 8), averaged
// over 2 x 2 blocks (112 x 112); central differences inside (0 on the border); each gradient's
// strength added to the bin of its orientation in its cell. Cell c (row-major), orientation o
// at c * kGradientOrientations + o. Each cell's histogram is divided by its length plus half the
// mean length of all cells, then by kGradientCells: all values are >= 0 and the layout has at
// most unit length. Empty for any other input.
std::vector<float> gradientLayout(const cv::Mat& input);

}  // namespace velto
