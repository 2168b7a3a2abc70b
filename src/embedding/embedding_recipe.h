#pragma once
// How a photo becomes a feature print whose distances the fixed split thresholds can read: the
// network's pooled activations of the luma-equalised input (what is in the picture), a coarse
// colour layout (how the picture looks) and a gradient layout of log luma (where its edges run,
// whatever the exposure), each centred on typical photographs and scaled to unit length.

#include <cstdint>
#include <vector>

#include "core/vector_math.h"
#include "embedding/embedding_network.h"
#include "embedding/gradient_layout.h"

namespace cv {
class Mat;
}

namespace velto {

// Which recipe made a print. Stored with every print (print files, anything that keeps prints)
// so that prints of two recipes are never compared: raise it with every change that moves a
// print's bits (network, input, layouts, weights, reference means, constant). 0 stands for
// prints stored before recipes were stated (the network of the plain input and the colour
// layout at weight 1.5, 417 floats). Recipe 2: this header's.
inline constexpr int64_t kPrintRecipe = 2;

// The colour layout: for each quadrant of the network input (top left, top right, bottom left,
// bottom right), a joint RGB histogram of kColourBins levels per channel.
inline constexpr int64_t kColourBins = 4;
inline constexpr int64_t kColourFeatures = 4 * kColourBins * kColourBins * kColourBins;

// Weights of the colour and the gradient component against the network component (each of unit
// length before).
inline constexpr float kColourWeight = 1.0f;
inline constexpr float kGradientWeight = 0.7f;

// Appended to every print: it pulls the distance where "same scene" turns into "another
// scene" into the range of the split thresholds (0.45 to 0.62).
inline constexpr float kPrintConstant = 1.0f;

// Elements of a print: network, colour and gradient components, constant.
inline constexpr int64_t kPrintLength = kPooledFeatures + kColourFeatures + kGradientFeatures + 1;

// The colour layout of a network input (CV_32FC3, kNetworkInputSide squared, RGB, each value an
// 8-bit level divided by 255): kColourFeatures fractions of the picture, each quadrant's
// histogram in its own block of 64, the bin of levels (r, g, b) at (r / 64) * 16 + (g / 64) * 4 +
// b / 64. Every block sums to 1/4. Empty for any other input.
std::vector<float> colourLayout(const cv::Mat& input);

// What a print is made of, before the recipe joins it.
struct PrintFeatures {
  std::vector<float> pooled;    // kPooledFeatures activations of the luma-equalised input
  std::vector<float> colour;    // colourLayout of the input
  std::vector<float> gradient;  // gradientLayout of the input
};

// The print from its features: the activations less kReferenceMean scaled to unit length; the
// square roots of the colour fractions less kReferenceColourMean scaled to length
// kColourWeight; the square roots of the gradient layout less kReferenceGradientMean scaled to
// length kGradientWeight; the three together scaled to unit length, kPrintConstant appended.
// kPrintLength floats. A component without variance (all equal to its mean) stays zero.
FeatureVector printFromFeatures(const PrintFeatures& features);

// The means of the components over a broad set of photographs; see tools/refmean.
extern const float kReferenceMean[];
extern const float kReferenceColourMean[];
extern const float kReferenceGradientMean[];

}  // namespace velto
