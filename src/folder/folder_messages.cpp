#include "folder/folder_messages.h"

namespace velto::folder_messages {
namespace {

const std::string kProgram = "velto-fprint-folder: ";

std::string plural(int64_t n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string usage() {
  return "usage: velto-fprint-folder [--recursive] [--gap SECONDS] [--json] [--report FILE] "
         "[--write-sidecars] [--dry-run] PATH...";
}

std::string badGap(const std::string& value) {
  return kProgram + "--gap needs a number of seconds, 0 or more, not \"" + value + "\"";
}

std::string couldNotRead(const std::string& path, const std::string& reason) {
  return kProgram + "could not read " + path + ": " + reason;
}

std::string couldNotReadFolder(const std::string& path, const std::string& reason) {
  return kProgram + "could not read folder " + path + ": " + reason;
}

std::string couldNotWriteSidecar(const std::string& path, const std::string& reason) {
  return kProgram + "could not write sidecar " + path + ": " + reason;
}

std::string couldNotWriteListing(const std::string& reason) {
  return kProgram + "could not write the listing to standard output: " + reason;
}

std::string sidecarIsAPhoto() { return "it is one of the photos"; }

std::string wouldWriteSidecar(const std::string& path, bool create, const std::string& keyword) {
  return kProgram + (create ? "would create " : "would update ") + path + ": " +
         (keyword.empty() ? "remove the series keyword" : keyword);
}

std::string wouldWriteReport(const std::string& path) {
  return kProgram + "would write the report " + path;
}

std::string summary(const Summary& s) {
  std::string line = kProgram + plural(s.photos, "photo", "photos") + " (" +
                     std::to_string(s.undated) + " undated), " + std::to_string(s.skipped) +
                     " skipped, " + plural(s.series, "series", "series") + ", " +
                     plural(s.sidecarsWritten, "sidecar", "sidecars") +
                     (s.dryRun ? " would be written" : " written");
  if (s.failures > 0) line += ", " + plural(s.failures, "failure", "failures");
  return line;
}

}  // namespace velto::folder_messages
