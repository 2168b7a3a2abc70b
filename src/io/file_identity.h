#pragma once
// Which files a job's photo paths name, so that no output of a program can replace one.

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace velto {

class FileIdentities {
 public:
  // The files `paths` name: the file each path leads to and, for a symbolic link, the link
  // itself. Paths that name nothing (also those holding a NUL byte) are left out.
  explicit FileIdentities(const std::vector<std::string>& paths);

  // True when writing a new file at `path` would replace one of those files: the entry at
  // `path` (not followed if it is a symbolic link) is one of them, under any name.
  bool wouldReplace(const std::string& path) const;

 private:
  std::set<std::pair<uint64_t, uint64_t>> ids_;  // device, inode
};

// FileIdentities(paths).wouldReplace(path), without looking at `paths` when nothing is at `path`.
bool wouldReplaceAnyOf(const std::string& path, const std::vector<std::string>& paths);

}  // namespace velto
