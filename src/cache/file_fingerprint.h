#pragma once
// What the prints cache knows a photo file by: where it lies on the file system (device,
// inode), its size and modification time, and a hash of every byte it holds.

#include <cstdint>
#include <optional>
#include <string>

namespace velto {

struct FileIdentity {
  int64_t device = 0;
  int64_t inode = 0;
  int64_t size = 0;
  int64_t mtimeNanoseconds = 0;  // since 1970, UTC
  bool operator==(const FileIdentity&) const = default;
};

struct FileFingerprint {
  FileIdentity identity;
  uint64_t contentHash = 0;  // XXH3 (64 bits) of the whole file
};

// The identity of the regular file `path` leads to (symbolic links followed); nothing when it
// cannot be examined or is not a regular file.
std::optional<FileIdentity> identityOf(const std::string& path);

// The identity and content hash of the regular file at `path`, read once from start to end.
// Nothing when it cannot be opened or read, is not a regular file (a FIFO is never waited
// for), or changed size while being read.
std::optional<FileFingerprint> fingerprintFile(const std::string& path);

// XXH3 (64 bits) of `size` bytes at `data`.
uint64_t hashBytes(const void* data, size_t size);

}  // namespace velto
