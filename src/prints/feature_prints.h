#pragma once
// Feature prints of a job: one vector per photo from the image analysis, and their common length.

#include <cstdint>
#include <string>
#include <vector>

#include "core/vector_math.h"
#include "prints/image_analysis.h"

namespace velto {

// The vector held in a print: type 1 as it is, type 2 rounded to the nearest float; trailing
// bytes that fill no whole element are ignored; any other type gives the empty vector.
FeatureVector decodePrint(const FeaturePrint& print);

struct FeaturePrints {
  std::vector<FeatureVector> vectors;  // one per photo, empty where no print was had
  int64_t dims = -1;                   // length of the first non-empty vector, -1 if none
};

// Asks `analysis` for every photo, in order. Never fails: a photo without a print keeps an
// empty vector.
FeaturePrints extractFeaturePrints(const std::vector<std::string>& photos, ImageAnalysis& analysis);

}  // namespace velto
