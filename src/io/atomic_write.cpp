#include "io/atomic_write.h"

#include <fcntl.h>
#include <signal.h>
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
  // The programs write their files from one thread, so reading the mask by setting it
  // briefly is safe.
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

// Holds back the signals a person or a service manager uses to stop a program while it lives;
// a signal that arrives meanwhile is delivered, with its usual effect, when it ends.
class StopSignalsHeld {
 public:
  StopSignalsHeld() {
    sigset_t stop;
    sigemptyset(&stop);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stop, sig);
    ::pthread_sigmask(SIG_BLOCK, &stop, &before_);
  }
  ~StopSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  StopSignalsHeld(const StopSignalsHeld&) = delete;
  StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

 private:
  sigset_t before_;
};

}  // namespace

bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string* err) {
  struct stat existing {};
  const bool exists = ::lstat(path.c_str(), &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode) &&
      !S_ISDIR(existing.st_mode)) {
    *err = "not a regular file";
    return false;
  }
  const bool replacesFile = exists && S_ISREG(existing.st_mode);

  const StopSignalsHeld held;
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
  const mode_t mode = replacesFile ? existing.st_mode & 0777 : 0666 & ~currentUmask();
  // Root may hand a replaced file back to its owner; anyone else keeps the file as theirs,
  // which is what the system allows.
  if (replacesFile && ::geteuid() == 0) (void)::fchown(fd, existing.st_uid, existing.st_gid);
  if (::fchmod(fd, mode) != 0) return abandon(errno);
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
