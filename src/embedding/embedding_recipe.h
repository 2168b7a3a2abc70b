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
// bottom right), a joint RGB histogram of COLOUR_BINS levels per channel.
inline constexpr int64_t COLOUR_BINS = 4;
inline constexpr int64_t COLOUR_FEATURES = 4 * COLOUR_BINS * COLOUR_BINS * COLOUR_BINS;

// Weight of the colour component against the network component (both of unit length before it).
inline constexpr float COLOUR_WEIGHT = 1.5f;

// Appended to every print: it pulls the distance where "same scene" turns into "another
// scene" into the range of the split thresholds (0.45 to 0.62).
inline constexpr float PRINT_CONSTANT = 1.0f;

// Elements of a print: network component, colour component, constant.
inline constexpr int64_t PRINT_LENGTH = POOLED_FEATURES + COLOUR_FEATURES + 1;

// The colour layout of a network input (CV_32FC3, NETWORK_INPUT_SIDE squared, RGB, each value an
// 8-bit level divided by 255): COLOUR_FEATURES fractions of the picture, each quadrant's
// histogram in its own block of 64, the bin of levels (r, g, b) at (r / 64) * 16 + (g / 64) * 4 +
// b / 64. Every block sums to 1/4. Empty for any other input.
std::vector<float> colourLayout(const cv::Mat& input);

// The print of a photo from its pooled activations (POOLED_FEATURES values) and its colour
// layout (COLOUR_FEATURES values): the activations less REFERENCE_MEAN scaled to unit length,
// then the square roots of the colour fractions less REFERENCE_COLOUR_MEAN scaled to length
// COLOUR_WEIGHT, the two together scaled to unit length, PRINT_CONSTANT appended.
FeatureVector printFromFeatures(const std::vector<float>& pooled, const std::vector<float>& colour);

// The means of both components over a broad set of photographs; see tools/refmean.
extern const float REFERENCE_MEAN[];
extern const float REFERENCE_COLOUR_MEAN[];

}  // namespace velto
