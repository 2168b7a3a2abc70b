#pragma once
#include <functional>
#include <memory>
#include <string>

#include "fprint/feature_prints.h"
#include "fprint/image_analysis.h"
#include "grouping/grouping.h"
#include "job/job_file.h"

namespace velto {

using AnalysisFactory = std::function<std::unique_ptr<ImageAnalysis>()>;

// The whole program for one job: `velto-fprint <input.json> <output.json>`. Returns 0 after
// the result file was written; every failure ends the process through fail() instead.
// `makeAnalysis` is called only when the job has photos, so an empty job never sets up a model.
int runFprint(int argc, const char* const* argv, const AnalysisFactory& makeAnalysis);

// What the steps shared by the programs that group a job found, with the time each part took.
struct GroupedJob {
  Job job;
  FeaturePrints prints;  // no vectors when the job has no photos
  Grouping grouping;
  double printSeconds = 0;  // decoding and the network (or reading recorded prints)
  double groupSeconds = 0;  // usable check, scores, threshold, cuts and numbering
};

// Ends the process with the message for a job file that `read` found faulty.
[[noreturn]] void failJob(const JobReadResult& read, const std::string& inputPath);

// Reads the job at `inputPath`, asks the analysis for every photo's print and groups the
// photos, exactly as velto-fprint does; ends the process through fail() with velto-fprint's
// message when the job cannot be read or no dated photo has a usable print.
GroupedJob groupJob(const std::string& inputPath, const AnalysisFactory& makeAnalysis);

}  // namespace velto
