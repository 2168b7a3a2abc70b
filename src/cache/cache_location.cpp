#include "cache/cache_location.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace velto {

std::optional<std::string> defaultCachePath(const char* xdgCacheHome, const char* home) {
  const std::string name = "/velto-fprint/prints.sqlite3";
  if (xdgCacheHome != nullptr && xdgCacheHome[0] == '/') return xdgCacheHome + name;
  if (home != nullptr && home[0] == '/') return home + std::string("/.cache") + name;
  return std::nullopt;
}

bool makeCacheFolder(const std::string& path, std::string* err) {
  const size_t last = path.rfind('/');
  if (last == std::string::npos || last == 0) return true;
  for (size_t at = path.find('/', 1); at != std::string::npos && at <= last;
       at = path.find('/', at + 1)) {
    const std::string folder = path.substr(0, at);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      *err = std::strerror(errno);
      return false;
    }
  }
  return true;
}

}  // namespace velto
