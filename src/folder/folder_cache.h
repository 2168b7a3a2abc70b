#pragma once
// The prints cache of one run of velto-fprint-folder: where it lies, opening it, and what the
// run says when it cannot be used as it should.

#include <memory>
#include <string>

#include "cache/prints_cache.h"
#include "folder/folder_options.h"

namespace velto {

// The cache the options ask for (none for --no-cache), opened for the current print recipe.
// When there is no place for it, none, with the warning in `*warning`.
std::unique_ptr<PrintsCache> openFolderCache(const FolderOptions& options, std::string* warning);

}  // namespace velto
