#pragma once
// Whole-file reads with a size limit, safe against FIFOs, devices and folders.

#include <cstdint>
#include <string>

namespace velto {

// Largest file the tool reads whole (job files and replayed prints): 256 MiB. Bigger files,
// and anything that is not a regular file (a FIFO, /dev/zero, a folder), are refused before
// a byte is read, so no input can make the tool hang or exhaust memory.
inline constexpr int64_t kMaxReadBytes = int64_t{256} << 20;

// Reads the regular file at `path` whole into `*out`. Returns false, with the operating
// system's reason in `*err`, when it cannot be opened (a path holding a NUL byte never can),
// is not a regular file, is larger than `maxBytes` or fails while being read.
bool readRegularFile(const std::string& path, int64_t maxBytes, std::string* out, std::string* err);

}  // namespace velto
