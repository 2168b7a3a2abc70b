#pragma once
// Finding the photos among the paths given on the command line.

#include <cstdint>
#include <string>
#include <vector>

namespace velto {

struct ScanResult {
  std::vector<std::string> photos;  // recognised by content; each path once, in no set order
  int64_t skipped = 0;              // files that are no photo (sidecars not counted)
  std::vector<std::string> errors;  // one message per folder or file that could not be read
  // Temporary sidecars a killed run left (".NAME.xmp.tmp-XXXXXX", regular files last changed
  // more than kStaleTemporarySeconds before the scan began); neither photos nor skipped.
  std::vector<std::string> staleTemporaries;
};

inline constexpr int64_t kStaleTemporarySeconds = 60;

// Every photo among `paths`: a file is taken when its first bytes are those of a format
// velto-fprint decodes (whatever its name); a folder contributes the files in it, and with
// `recursive` those of its subfolders as well (symbolic links to folders are not followed, so
// no loop is possible). Paths are built from the names exactly as the file system gives them.
// Files that are not regular (FIFOs, devices, sockets) are never opened, only counted as skipped.
ScanResult scanPaths(const std::vector<std::string>& paths, bool recursive);

// Removes the scan's stale temporary sidecars; one that is already gone is no failure.
void removeStaleTemporaries(const ScanResult& scan);

}  // namespace velto
