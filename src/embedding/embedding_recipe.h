#pragma once
// How a photo becomes a feature print whose distances the fixed split thresholds can read: the
// network's pooled activations (what is in the picture) joined with a coarse colour layout (how
// the picture looks), each centred on typical photographs and scaled to unit length.

#include <cstdint>
#include <vector>

#include "core/vector_math.h"
#include "embedding/embedding_network.h"

namespace cv {
class Mat;
}

namespace velto {

// The colour layout: for each quadrant of the network input (top left, top right, bottom left,
// bottom right), a joint RGB histogram of kColourBins levels per channel.
inline constexpr int64_t kColourBins = 4;
inline constexpr int64_t kColourFeatures = 4 * kColourBins * kColourBins * kColourBins;

// Weight of the colour component against the network component (both of unit length before it).
inline constexpr float kColourWeight = 1.5f;

// Appended to every print: it pulls the distance where "same scene" turns into "another
// scene" into the range of the split thresholds (0.45 to 0.62).
inline constexpr float kPrintConstant = 1.0f;

// Elements of a print: network component, colour component, constant.
inline constexpr int64_t kPrintLength = kPooledFeatures + kColourFeatures + 1;

// The colour layout of a network input (CV_32FC3, kNetworkInputSide squared, RGB, each value an
// 8-bit level divided by 255): kColourFeatures fractions of the picture, each quadrant's
// histogram in its own block of 64, the bin of levels (r, g, b) at (r / 64) * 16 + (g / 64) * 4 +
// b / 64. Every block sums to 1/4. Empty for any other input.
std::vector<float> colourLayout(const cv::Mat& input);

// The print of a photo from its pooled activations (kPooledFeatures values) and its colour
// layout (kColourFeatures values): the activations less kReferenceMean scaled to unit length,
// then the square roots of the colour fractions less kReferenceColourMean scaled to length
// kColourWeight, the two together scaled to unit length, kPrintConstant appended.
FeatureVector printFromFeatures(const std::vector<float>& pooled, const std::vector<float>& colour);

// The means of both components over a broad set of photographs; see tools/refmean.
extern const float kReferenceMean[];
extern const float kReferenceColourMean[];

}  // namespace velto
