#pragma once
#include <string>

namespace velto {

// Replaces the file at `path` with `bytes`, all or nothing. The bytes go to a temporary file
// created exclusively in the same folder (named ".<file name>.tmp-XXXXXX"), are flushed to disk,
// and the temporary file is renamed over `path`; then the folder is flushed too. A new file gets
// mode 0666 less the umask. On failure returns false with the operating system's text for the
// failed call in `*err`; the file at `path` is then untouched and the temporary file is gone.
// Only a process killed midway can leave a temporary file behind.
bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string* err);

}  // namespace velto
