#include "folder/folder_options.h"

#include <cmath>
#include <cstdlib>

#include "app/rules.h"
#include "folder/folder_messages.h"

namespace velto {
namespace {

const std::string kProgram = "velto-fprint-folder";

bool parseGap(const std::string& value, double* gapSeconds, std::string* err) {
  char* end = nullptr;
  const double gap = std::strtod(value.c_str(), &end);
  // Up to a thousand years: far beyond any photo collection, and safe to split into whole
  // seconds.
  if (value.empty() || *end != '\0' || !std::isfinite(gap) || gap < 0 || gap > 3.2e10) {
    *err = folder_messages::badGap(value);
    return false;
  }
  *gapSeconds = gap;
  return true;
}

}  // namespace

CommandLine folderCommandLine(FolderOptions* o) {
  const auto text = [](std::optional<std::string>* target) {
    return [target](const std::string& value, std::string*) {
      *target = value;
      return true;
    };
  };
  return {
      kProgram,
      {flagOption("recursive", "also the photos in subfolders", &o->recursive),
       {"gap", "SECONDS", "a new time group after a longer pause (default 600)",
        [o](const std::string& v, std::string* err) { return parseGap(v, &o->gapSeconds, err); }},
       flagOption("json", "list the photos as JSON instead of CSV", &o->json),
       {"report", "FILE", "also write the HTML report", text(&o->reportPath)},
       flagOption("write-sidecars", "tag every series in the photos' XMP sidecars",
                  &o->writeSidecars),
       flagOption("dry-run", "write nothing; say which sidecars would change", &o->dryRun),
       {"cache", "FILE", "keep prints in FILE, not in ~/.cache/velto-fprint/", text(&o->cachePath)},
       flagOption("no-cache", "neither use nor keep prints between runs", &o->noCache),
       choiceOption(kProgram, "undated", {"file", "last"},
                    "photos without a capture time: by file time, or last", &o->undated),
       rulesOption(kProgram, &o->rules)},
      "PATH...",
      1};
}

}  // namespace velto
