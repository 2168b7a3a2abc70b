#include "embedding/luma_equalisation.h"

#include <algorithm>
#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

namespace velto {

namespace {

// Summed left to right in double precision, as the recipe was measured.
double luma(const float* p) { return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]; }

int lumaBin(double l) {
  return std::clamp(static_cast<int>(l * (kLumaBins - 1) + 0.5), 0, kLumaBins - 1);
}

}  // namespace

cv::Mat lumaEqualised(const cv::Mat& input) {
  if (input.type() != CV_32FC3 || input.empty()) return {};
  std::vector<int64_t> count(kLumaBins, 0);
  for (int y = 0; y < input.rows; ++y) {
    const float* p = input.ptr<float>(y);
    for (int x = 0; x < input.cols; ++x, p += 3) ++count[static_cast<size_t>(lumaBin(luma(p)))];
  }
  // Mid ranks: a bin's pixels share the middle of the places they take, so a flat picture
  // lands at one half rather than at either end.
  const auto pixels = static_cast<double>(input.total());
  std::vector<double> rank(kLumaBins);
  int64_t below = 0;
  for (size_t k = 0; k < rank.size(); ++k) {
    rank[k] = (static_cast<double>(below) + static_cast<double>(count[k]) / 2) / pixels;
    below += count[k];
  }
  cv::Mat out(input.size(), CV_32FC3);
  for (int y = 0; y < input.rows; ++y) {
    const float* p = input.ptr<float>(y);
    float* q = out.ptr<float>(y);
    for (int x = 0; x < input.cols; ++x, p += 3, q += 3) {
      const double l = luma(p);
      // Dark pixels are lifted no more than a pixel of one level would be: their colour is
      // mostly noise.
      const double gain = rank[static_cast<size_t>(lumaBin(l))] / std::max(l, 1.0 / 255.0);
      for (int c = 0; c < 3; ++c) q[c] = static_cast<float>(std::clamp(p[c] * gain, 0.0, 1.0));
    }
  }
  return out;
}

}  // namespace velto
