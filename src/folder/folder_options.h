#pragma once
// velto-fprint-folder's command line: its table of options and what they set.

#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "folder/capture_order.h"

namespace velto {

struct FolderOptions {
  bool recursive = false;
  double gapSeconds = kDefaultGapSeconds;
  bool json = false;
  std::optional<std::string> reportPath;
  bool writeSidecars = false;
  bool dryRun = false;
  std::optional<std::string> cachePath;  // --cache; the default place otherwise
  bool noCache = false;
  std::string undated = "file";  // "file": dated by the file's time; "last": group 0, last
  std::string rules = "series";  // "series": our own grouping; "platform": velto-fprint's
  std::vector<std::string> paths;
};

// The command line of velto-fprint-folder, its options writing into `*options` as they are
// parsed (one line of the table per option).
CommandLine folderCommandLine(FolderOptions* options);

}  // namespace velto
