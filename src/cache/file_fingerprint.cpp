#include "cache/file_fingerprint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <cerrno>
#include <memory>
#include <vector>

namespace velto {
namespace {

FileIdentity identityFromStat(const struct stat& st) {
  FileIdentity id;
  id.device = static_cast<int64_t>(st.st_dev);
  id.inode = static_cast<int64_t>(st.st_ino);
  id.size = static_cast<int64_t>(st.st_size);
  id.mtimeNanoseconds = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 +
                        static_cast<int64_t>(st.st_mtim.tv_nsec);
  return id;
}

struct HashState {
  void operator()(XXH3_state_t* s) const { XXH3_freeState(s); }
};

}  // namespace

std::optional<FileIdentity> identityOf(const std::string& path) {
  struct stat st {};
  if (path.find('\0') != std::string::npos || ::stat(path.c_str(), &st) != 0 ||
      !S_ISREG(st.st_mode)) {
    return std::nullopt;
  }
  return identityFromStat(st);
}

std::optional<FileFingerprint> fingerprintFile(const std::string& path) {
  if (path.find('\0') != std::string::npos) return std::nullopt;
  // O_NONBLOCK: should a FIFO have taken the photo's place, opening it does not wait.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<FileFingerprint> result;
  const std::unique_ptr<XXH3_state_t, HashState> state(XXH3_createState());
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && state &&
      XXH3_64bits_reset(state.get()) == XXH_OK) {
    // Read to the end, not to st_size: a file that grows or shrinks meanwhile is refused below.
    std::vector<unsigned char> buffer(size_t{1} << 18);
    int64_t total = 0;
    bool failed = false;
    for (;;) {
      const ssize_t got = ::read(fd, buffer.data(), buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) failed = true;
      if (got <= 0) break;
      XXH3_64bits_update(state.get(), buffer.data(), static_cast<size_t>(got));
      total += got;
    }
    if (!failed && total == static_cast<int64_t>(st.st_size)) {
      result = FileFingerprint{identityFromStat(st), XXH3_64bits_digest(state.get())};
    }
  }
  ::close(fd);
  return result;
}

uint64_t hashBytes(const void* data, size_t size) { return XXH3_64bits(data, size); }

}  // namespace velto
