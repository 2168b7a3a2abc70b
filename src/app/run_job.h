#pragma once
// Running a job: the steps the programs share, from the job file to the written result. Every
// function here returns its failure as the one message line the program prints; only the
// programs themselves end the process.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/rules.h"
#include "core/grouping.h"
#include "core/series.h"
#include "job/job_file.h"
#include "prints/feature_prints.h"
#include "prints/image_analysis.h"

namespace velto {

using AnalysisFactory = std::function<std::unique_ptr<ImageAnalysis>()>;

// What the steps shared by the programs that group a job found, with the time each part took.
struct GroupedJob {
  Job job;
  FeaturePrints prints;  // no vectors when the job has no photos
  Rules rules = Rules::kPlatform;
  Grouping grouping;                     // the fixed rules' values, whichever rules grouped
  std::optional<SeriesGrouping> series;  // the series grouping's, when it grouped the job (its
                                         // fixed-rules part moved into `grouping`)
  double printSeconds = 0;               // decoding and the network (or reading recorded prints)
  double groupSeconds = 0;               // usable check, scores, threshold, cuts and numbering

  // The result: one group number per photo, from the rules that grouped the job.
  const std::vector<int64_t>& groups() const { return series ? series->groups : grouping.groups; }
};

// The message for a job file that `read` found faulty; requires read.fault != kNone.
std::string jobFaultMessage(const JobReadResult& read, const std::string& inputPath);

// Reads the job at `inputPath`, asks the analysis for every photo's print and groups the photos,
// exactly as velto-fprint does. `makeAnalysis` is called only when the job has photos, so an
// empty job never sets up a model. Returns false with velto-fprint's message in `*err` when the
// job cannot be read or no dated photo has a usable print. `rules` chooses the grouping; the
// fixed rules are velto-fprint's.
bool groupJob(const std::string& inputPath, const AnalysisFactory& makeAnalysis, GroupedJob* out,
              std::string* err, Rules rules = Rules::kPlatform);

// The same for a job already in memory (a program that finds the photos and time groups
// itself): prints, usable check and grouping exactly as velto-fprint's. Returns false with the
// "no usable feature print" message in `*err`.
bool groupLoadedJob(Job job, const AnalysisFactory& makeAnalysis, GroupedJob* out, std::string* err,
                    Rules rules = Rules::kPlatform);

// Replaces the file at `path` with `bytes` all at once (see writeFileAtomically), unless `path`
// names one of `photos`: a slip of the caller's, and the photo is kept. Returns false with the
// "could not write" message in `*err`.
bool writeOutput(const std::string& path, const std::string& bytes,
                 const std::vector<std::string>& photos, std::string* err);

// The whole of velto-fprint (and velto-fprint-replay, with its own analysis) for `args`, the
// program's name first: exactly two arguments, the job, the grouping, the result file. Returns
// false with the one failure message in `*err`.
bool runFprint(const std::vector<std::string>& args, const AnalysisFactory& makeAnalysis,
               std::string* err, Rules rules = Rules::kPlatform);

}  // namespace velto
