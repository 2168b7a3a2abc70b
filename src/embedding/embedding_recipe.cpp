#include "embedding/embedding_recipe.h"

#include <cmath>
#include <opencv2/core.hpp>

namespace velto {

std::vector<float> colourLayout(const cv::Mat& input) {
  const int side = static_cast<int>(kNetworkInputSide);
  if (input.type() != CV_32FC3 || input.rows != side || input.cols != side) return {};
  std::vector<int64_t> counts(static_cast<size_t>(kColourFeatures), 0);
  const int half = side / 2;
  constexpr int64_t kBlock = kColourBins * kColourBins * kColourBins;
  for (int y = 0; y < side; ++y) {
    const float* p = input.ptr<float>(y);
    for (int x = 0; x < side; ++x, p += 3) {
      int64_t bin = 0;
      for (int c = 0; c < 3; ++c) {
        // The input holds level / 255; rounding back gives the level exactly. Values outside
        // [0, 1] and NaN (never made by networkInput) land in the end bins.
        float v = p[c];
        if (!(v > 0.0f)) v = 0.0f;
        if (v > 1.0f) v = 1.0f;
        const auto level = static_cast<int64_t>(v * 255.0f + 0.5f);
        bin = bin * kColourBins + level * kColourBins / 256;
      }
      const int64_t quadrant = (y < half ? 0 : 2) + (x < half ? 0 : 1);
      ++counts[static_cast<size_t>(quadrant * kBlock + bin)];
    }
  }
  // Each quadrant's histogram sums to 1/4, so the square roots have unit length together.
  const auto perImage = static_cast<double>(side) * side;
  std::vector<float> colour(counts.size());
  for (size_t k = 0; k < counts.size(); ++k) {
    colour[k] = static_cast<float>(static_cast<double>(counts[k]) / perImage);
  }
  return colour;
}

FeatureVector printFromFeatures(const std::vector<float>& pooled,
                                const std::vector<float>& colour) {
  // Raw activations are all positive and every photo would look alike; centring on typical
  // photographs leaves what sets this photo apart. The same holds for the colours.
  FeatureVector net(pooled.size());
  for (size_t k = 0; k < pooled.size(); ++k) net[k] = pooled[k] - kReferenceMean[k];
  // Square roots of the fractions: a colour covering much of the picture counts for less than
  // in proportion, so one large area of sky or wall does not drown the rest.
  FeatureVector col(colour.size());
  for (size_t k = 0; k < colour.size(); ++k) {
    col[k] = std::sqrt(colour[k]) - kReferenceColourMean[k];
  }
  FeatureVector both = normalized(net);
  for (const float x : normalized(col)) both.push_back(x * kColourWeight);
  FeatureVector print = normalized(both);
  print.push_back(kPrintConstant);
  return print;
}

}  // namespace velto
