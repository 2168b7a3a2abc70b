#include "folder/folder_messages.h"

namespace velto::folder_messages {
namespace {

const std::string kProgram = "velto-fprint-folder: ";

std::string plural(int64_t n, const std::string& one, const std::string& many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

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

std::string cacheProblem(const std::string& path, const CacheProblem& problem) {
  const std::string cache = "the prints cache " + path;
  const std::string without = "; prints are computed without it";
  switch (problem.kind) {
    case CacheProblemKind::kCannotOpen:
    case CacheProblemKind::kNotACache:
      return kProgram + "could not use " + cache + ": " + problem.reason + without;
    case CacheProblemKind::kRebuilt:
      return kProgram + cache + " was damaged (" + problem.reason + "); it is started afresh";
    case CacheProblemKind::kReadOnly:
      return kProgram + cache + " is read-only; new prints are not kept";
    case CacheProblemKind::kWriteFailed:
      return kProgram + "could not write " + cache + ": " + problem.reason +
             "; new prints are not kept";
    case CacheProblemKind::kReadFailed:
      break;
  }
  return kProgram + "could not read " + cache + ": " + problem.reason + without;
}

std::string noCacheFolder() {
  return kProgram + "no place for the prints cache (neither XDG_CACHE_HOME nor HOME is set); "
                    "prints are computed without it";
}

std::string summary(const Summary& s) {
  std::string line = kProgram + plural(s.photos, "photo", "photos") + " (" +
                     std::to_string(s.undated) +
                     (s.byFileTime ? " by file time), " : " undated), ") +
                     std::to_string(s.skipped) + " skipped, " +
                     plural(s.series, "series", "series") + ", " +
                     plural(s.sidecarsWritten, "sidecar", "sidecars") +
                     (s.dryRun ? " would be written" : " written");
  if (s.printsFromCache > 0) {
    line += ", " + plural(s.printsFromCache, "print", "prints") + " from the cache";
  }
  if (s.failures > 0) line += ", " + plural(s.failures, "failure", "failures");
  return line;
}

}  // namespace velto::folder_messages
