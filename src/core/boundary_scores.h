#pragma once
// Boundary scores: how different the photos look on both sides of each gap, and its peaks.

#include <cstdint>
#include <vector>

#include "core/vector_math.h"

namespace velto {

// D[i], for every gap i between photo i and photo i + 1: the distance between the normalised
// means of the usable vectors among the WINDOW positions before the gap (i-2..i) and after it
// (i+1..i+3), windows cut at the ends of the sequence; 0 where either window has no usable
// photo. Time groups play no part beyond deciding which photos are usable. Time and memory
// are proportional to n x dims; the vectors are not copied.
std::vector<float> boundaryScores(const std::vector<int64_t>& timeGroups,
                                  const std::vector<FeatureVector>& vectors, int64_t dims);

// True when no score within PEAK_RADIUS gaps of gap i (over all of D) is greater than D[i].
// Requires 0 <= i < D.size(); a NaN score never blocks and is always a peak itself.
bool isPeak(const std::vector<float>& D, int64_t i);

}  // namespace velto
