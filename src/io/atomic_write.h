#pragma once
// All-or-nothing replacement of a file.

#include <string>

namespace velto {

// Replaces the file at `path` with `bytes`, all or nothing. The bytes go to a temporary file
// created exclusively in the same folder (named ".<file name>.tmp-XXXXXX"), are flushed to disk,
// and the temporary file is renamed over `path`; then the folder is flushed too.
// - A file already at `path` keeps its permission bits (and, where the process may, its owner);
//   a new file gets mode 0666 less the umask.
// - An existing `path` that is neither a regular file, a symbolic link nor a folder (a device,
//   a FIFO, a socket) is refused untouched: renaming over it would destroy the node.
// - SIGINT, SIGTERM, SIGHUP and SIGQUIT wait while the temporary file exists, so that a caller
//   who stops the program never finds one left; only SIGKILL or a crash can leave it.
// On failure returns false with the reason (the operating system's text for the failed call)
// in `*err`; the file at `path` is then untouched and the temporary file is gone.
bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string* err);

}  // namespace velto
