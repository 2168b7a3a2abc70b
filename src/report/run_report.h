#pragma once
// velto-fprint-report: a job grouped exactly as velto-fprint does it, shown as one
// self-contained HTML page instead of the result file.

#include <string>
#include <vector>

#include "app/run_job.h"

namespace velto {

// For `args` (the program's name, the job file, the report path): groups the job with the
// analysis `makeAnalysis` gives, renders the page and writes it atomically. Returns false with
// the one failure message (velto-fprint's, or the report's own usage line) in `*err`.
bool runReport(const std::vector<std::string>& args, const AnalysisFactory& makeAnalysis,
               std::string* err);

}  // namespace velto
