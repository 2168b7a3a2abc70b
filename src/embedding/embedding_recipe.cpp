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

namespace {

// Square roots less their reference mean, scaled to length `weight`.
void appendRootsCentred(const std::vector<float>& values, const float* mean, float weight,
                        FeatureVector* out) {
  FeatureVector centred(values.size());
  // Square roots: a colour or an edge direction covering much of the picture counts for less
  // than in proportion, so one large area of sky or wall does not drown the rest.
  for (size_t k = 0; k < values.size(); ++k) centred[k] = std::sqrt(values[k]) - mean[k];
  for (const float x : normalized(centred)) out->push_back(x * weight);
}

}  // namespace

FeatureVector printFromFeatures(const PrintFeatures& features) {
  // Raw activations are all positive and every photo would look alike; centring on typical
  // photographs leaves what sets this photo apart. The same holds for the layouts.
  FeatureVector net(features.pooled.size());
  for (size_t k = 0; k < net.size(); ++k) net[k] = features.pooled[k] - kReferenceMean[k];
  FeatureVector all = normalized(net);
  appendRootsCentred(features.colour, kReferenceColourMean, kColourWeight, &all);
  appendRootsCentred(features.gradient, kReferenceGradientMean, kGradientWeight, &all);
  FeatureVector print = normalized(all);
  print.push_back(kPrintConstant);
  return print;
}

}  // namespace velto
