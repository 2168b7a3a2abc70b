#pragma once
// velto-fprint-embed: the print of every photo of a job, computed once and stored beside a job
// over the stored prints, so that velto-fprint-replay groups it exactly as velto-fprint does.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "prints/image_analysis.h"

namespace velto {

// One photo as stored: its print file and how many elements its print has (0: no print).
struct StoredPrint {
  std::string printPath;
  int64_t elements = 0;
  std::string photo;
};

// For `args` (the program's name, the job file, the print folder): creates the folder if
// needed, writes <folder>/NNNNNN.print (the photo's index, six digits or more) for every photo
// with a print and removes such a file left by an earlier job for a photo without one, then
// writes <folder>/job.json, the job over those files. Calls `stored` after each photo. No
// output replaces a photo of the job. Returns false with the one failure message in `*err`.
bool embedPrints(const std::vector<std::string>& args, ImageAnalysis& analysis,
                 const std::function<void(const StoredPrint&)>& stored, std::string* err);

}  // namespace velto
