#pragma once
// velto-fprint-report: a job grouped exactly as velto-fprint does it, shown as one
// self-contained HTML page instead of the result file.

#include <optional>
#include <string>
#include <vector>

#include "app/run_job.h"

namespace velto {

// For `args` (the program's name, the job file, the report path): groups the job with the
// analysis `makeAnalysis` gives, renders the page and writes it atomically. Returns false with
// the one failure message (velto-fprint's, or the report's own usage line) in `*err`.
bool runReport(const std::vector<std::string>& args, const AnalysisFactory& makeAnalysis,
               std::string* err);

// The page of a job that groupJob or groupLoadedJob grouped, headed by `title` (the job file,
// or what stands for it). Shows the prints' and the grouping's times from `grouped`, the time
// of its own thumbnails and rendering, and `photoSeconds` when the caller found the photos
// and their capture times itself (nothing: that stage is not shown).
std::string renderGroupedJob(const std::string& title, const GroupedJob& grouped,
                             std::optional<double> photoSeconds);

}  // namespace velto
