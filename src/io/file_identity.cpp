#include "io/file_identity.h"

#include <sys/stat.h>

namespace velto {

FileIdentities::FileIdentities(const std::vector<std::string>& paths) {
  struct stat st {};
  for (const std::string& path : paths) {
    if (path.find('\0') != std::string::npos) continue;
    if (::stat(path.c_str(), &st) == 0) ids_.emplace(st.st_dev, st.st_ino);
    if (::lstat(path.c_str(), &st) == 0) ids_.emplace(st.st_dev, st.st_ino);
  }
}

bool FileIdentities::wouldReplace(const std::string& path) const {
  // A rename replaces the directory entry itself, so a link there is looked at, not followed.
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  return ids_.count({st.st_dev, st.st_ino}) > 0;
}

bool wouldReplaceAnyOf(const std::string& path, const std::vector<std::string>& paths) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  return FileIdentities(paths).wouldReplace(path);
}

}  // namespace velto
