#pragma once
#include <functional>
#include <memory>

#include "fprint/image_analysis.h"

namespace velto {

using AnalysisFactory = std::function<std::unique_ptr<ImageAnalysis>()>;

// The whole program for one job: `velto-fprint <input.json> <output.json>`. Returns 0 after
// the result file was written; every failure ends the process through fail() instead.
// `makeAnalysis` is called only when the job has photos, so an empty job never sets up a model.
int runFprint(int argc, const char* const* argv, const AnalysisFactory& makeAnalysis);

}  // namespace velto
