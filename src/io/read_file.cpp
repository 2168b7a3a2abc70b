#include "io/read_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "io/file_descriptor.h"

namespace velto {

bool readRegularFile(const std::string& path, int64_t maxBytes, std::string* out,
                     std::string* err) {
  // A path that holds a NUL byte (a job may spell one as \u0000) names no file; the system
  // would see only its part before the NUL.
  if (path.find('\0') != std::string::npos) {
    *err = std::strerror(ENOENT);
    return false;
  }
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever.
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (fd.get() < 0) {
    *err = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    *err = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *err = std::strerror(EISDIR);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *err = "not a regular file";
    return false;
  }
  if (st.st_size > maxBytes) {
    *err = "larger than " + std::to_string(maxBytes) + " bytes";
    return false;
  }
  out->clear();
  out->reserve(static_cast<size_t>(st.st_size));
  char buf[1 << 16];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *err = std::strerror(errno);
      return false;
    }
    if (got == 0) break;
    // The file may grow while it is read; the limit holds all the same.
    if (static_cast<int64_t>(out->size()) + got > maxBytes) {
      *err = "larger than " + std::to_string(maxBytes) + " bytes";
      return false;
    }
    out->append(buf, static_cast<size_t>(got));
  }
  return true;
}

}  // namespace velto
