#include "folder/folder_cache.h"

#include <cstdlib>
#include <ctime>

#include "cache/cache_location.h"
#include "cache/print_recipe.h"
#include "folder/folder_messages.h"

namespace velto {

std::unique_ptr<PrintsCache> openFolderCache(const FolderOptions& options, std::string* warning) {
  if (options.noCache) return nullptr;
  std::string path;
  if (options.cachePath) {
    path = *options.cachePath;
  } else {
    const std::optional<std::string> place =
        defaultCachePath(std::getenv("XDG_CACHE_HOME"), std::getenv("HOME"));
    if (!place) {
      *warning = folder_messages::noCacheFolder();
      return nullptr;
    }
    path = *place;
    std::string reason;
    if (!makeCacheFolder(path, &reason)) {
      *warning = folder_messages::cacheProblem(path, {CacheProblemKind::kCannotOpen, reason});
      return nullptr;
    }
  }
  return std::make_unique<PrintsCache>(path, currentPrintRecipe(),
                                       static_cast<int64_t>(std::time(nullptr)));
}

}  // namespace velto
