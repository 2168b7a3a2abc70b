#pragma once
// How the network's pooled activations become a feature print whose distances the fixed
// split thresholds can read.

#include <vector>

#include "scoring/vector_math.h"

namespace velto {

// Appended to every print: it pulls the distance where "same scene" turns into "another
// scene" into the range of the split thresholds (0.45 to 0.62).
inline constexpr float PRINT_CONSTANT = 0.75f;

// `pooled` less the reference mean, scaled to unit length, with PRINT_CONSTANT appended.
// Requires pooled.size() == POOLED_FEATURES.
FeatureVector printFromPooled(const std::vector<float>& pooled);

// The mean activations of a broad set of photographs; see tools/refmean.
extern const float REFERENCE_MEAN[];

}  // namespace velto
