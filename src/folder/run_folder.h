#pragma once
// velto-fprint-folder: a folder of photos turned into velto-fprint's groups, with time groups
// made from the photos' own capture times; listed, shown as the report, or handed to photo
// managers as keywords in XMP sidecars.

#include <cstdio>
#include <string>
#include <vector>

#include "app/run_job.h"

namespace velto {

struct FolderStreams {
  std::FILE* out = stdout;    // the listing
  std::FILE* err = stderr;    // per-file failures, dry-run changes, the summary
  bool errIsTerminal = false;  // progress is drawn only then
  bool outIsTerminal = false;  // the CSV listing shows names escaped then
};

// The whole program for `args` (its own name first). Failures of single folders, files and
// sidecars are reported on streams.err as they happen and the run goes on. Returns the exit
// status: 0 when everything asked for was done, 1 when anything failed (a usage error, a
// fatal grouping failure, or any single failure above).
int runFolder(const std::vector<std::string>& args, const AnalysisFactory& makeAnalysis,
              const FolderStreams& streams);

}  // namespace velto
