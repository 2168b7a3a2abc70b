#pragma once
// Where the prints cache lies when no file is named: the user's cache folder, as the XDG base
// directory convention has it.

#include <optional>
#include <string>

namespace velto {

// $XDG_CACHE_HOME/velto-fprint/prints.sqlite3, or $HOME/.cache/velto-fprint/prints.sqlite3
// when XDG_CACHE_HOME is unset, empty or relative (the convention ignores those). Nothing when
// neither gives an absolute folder. The values are passed in (null: unset).
std::optional<std::string> defaultCachePath(const char* xdgCacheHome, const char* home);

// Creates the folders above the file `path` that are missing (mode 0700, as the convention
// asks). False with the operating system's reason in `*err`.
bool makeCacheFolder(const std::string& path, std::string* err);

}  // namespace velto
