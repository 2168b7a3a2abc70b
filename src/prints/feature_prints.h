#pragma once
// Feature prints of a job: one vector per photo from the image analysis, and their common length.

#include <cstdint>
#include <functional>
#include <optional>
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
  int64_t recipe = -1;                 // recipe of the first non-empty vector, -1 if none
};

// Asks `analysis` for the print of every photo, up to analysis.concurrency() photos at once,
// each on one thread (the calling thread among them) from start to end; a thread that is done
// takes the next photo not yet started, so a thread that gets no processor time holds up one
// photo, never a share of the job. `take(i, print)` sees the prints on the calling thread in
// photo order; when it returns false no further photo is started and the call returns once the
// photos under way are done. A photo whose analysis throws has no print.
void analysePhotos(const std::vector<std::string>& photos, ImageAnalysis& analysis,
                   const std::function<bool(size_t, std::optional<FeaturePrint>)>& take);

// The prints of every photo (analysePhotos). Never fails: a photo without a print keeps an empty
// vector. The job's recipe is that of its first photo (in photo order) with a non-empty print;
// a print of another recipe counts as no print, so a job that mixes recipes is grouped by the
// prints of its first recipe alone.
FeaturePrints extractFeaturePrints(const std::vector<std::string>& photos, ImageAnalysis& analysis);

}  // namespace velto
