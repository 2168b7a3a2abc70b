#include "job/atomic_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velto {

namespace {

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

mode_t currentUmask() {
  // The tool runs on one thread, so reading the mask by setting it briefly is safe.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

bool writeAll(int fd, const std::string& bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t done = ::write(fd, p, left);
    if (done < 0 && errno == EINTR) continue;
    if (done < 0) return false;
    p += done;
    left -= static_cast<size_t>(done);
  }
  return true;
}

}  // namespace

bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string* err) {
  const std::string folder = folderOf(path);
  std::string temp = folder + "/." + fileNameOf(path) + ".tmp-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    *err = std::strerror(errno);
    return false;
  }
  auto abandon = [&](int savedErrno) {
    ::close(fd);
    ::unlink(temp.c_str());
    *err = std::strerror(savedErrno);
    return false;
  };
  if (::fchmod(fd, 0666 & ~currentUmask()) != 0) return abandon(errno);
  if (!writeAll(fd, bytes)) return abandon(errno);
  if (::fsync(fd) != 0) return abandon(errno);
  if (::close(fd) != 0) {
    const int saved = errno;
    ::unlink(temp.c_str());
    *err = std::strerror(saved);
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int saved = errno;
    ::unlink(temp.c_str());
    *err = std::strerror(saved);
    return false;
  }
  // The rename is durable only once the folder's entry is on disk. The new content is in
  // place already, so a folder that cannot be synced is not reported as a failed write.
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

}  // namespace velto
