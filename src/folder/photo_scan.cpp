#include "folder/photo_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <set>
#include <string_view>

#include "folder/folder_messages.h"
#include "image/image_header.h"

namespace velto {
namespace {

// Enough for every signature sniffFormat knows, HEIF's list of compatible brands included.
constexpr size_t kSniffBytes = 4096;

bool endsWithXmp(const std::string& path) {
  if (path.size() < 4) return false;
  std::string tail = path.substr(path.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return tail == ".xmp";
}

// Whether `name` is one writeFileAtomically makes for a sidecar: ".NAME.xmp.tmp-XXXXXX", six
// letters or digits at the end.
bool isSidecarTemporaryName(std::string_view name) {
  constexpr std::string_view kInfix = ".xmp.tmp-";
  if (name.size() < 1 + kInfix.size() + 6 || name[0] != '.') return false;
  const std::string_view tail = name.substr(name.size() - 6);
  const bool random = std::all_of(tail.begin(), tail.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
  return random && name.substr(name.size() - 6 - kInfix.size(), kInfix.size()) == kInfix;
}

class Scanner {
 public:
  Scanner(bool recursive, ScanResult* out)
      : recursive_(recursive), out_(out), started_(std::time(nullptr)) {}

  // A path from the command line: a folder is listed, anything else taken as a file.
  void visitArgument(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      out_->errors.push_back(folder_messages::couldNotRead(path, std::strerror(errno)));
      return;
    }
    if (S_ISDIR(st.st_mode)) {
      visitFolder(path);
    } else {
      visitFile(path, st);
    }
  }

 private:
  void visitFolder(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
      out_->errors.push_back(folder_messages::couldNotReadFolder(folder, std::strerror(errno)));
      return;
    }
    const std::string prefix = folder.back() == '/' ? folder : folder + "/";
    std::vector<std::string> subfolders;
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir);
      if (entry == nullptr) {
        if (errno != 0) {
          out_->errors.push_back(folder_messages::couldNotReadFolder(folder, std::strerror(errno)));
        }
        break;
      }
      const std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = prefix + std::string(name);
      struct stat st {};
      if (::lstat(path.c_str(), &st) != 0) {
        out_->errors.push_back(folder_messages::couldNotRead(path, std::strerror(errno)));
        continue;
      }
      if (S_ISDIR(st.st_mode)) {
        if (recursive_) subfolders.push_back(path);
        continue;
      }
      // A killed run's temporary sidecar: a regular file, not touched since well before this
      // run began (a run at the same time holds its own for a moment at most).
      if (S_ISREG(st.st_mode) && isSidecarTemporaryName(name) &&
          st.st_mtime < started_ - kStaleTemporarySeconds) {
        out_->staleTemporaries.push_back(path);
        continue;
      }
      // A symbolic link counts as what it leads to, unless that is a folder.
      if (S_ISLNK(st.st_mode) && (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode))) {
        if (!S_ISDIR(st.st_mode) && !endsWithXmp(path)) ++out_->skipped;  // a dangling link
        continue;
      }
      visitFile(path, st);
    }
    ::closedir(dir);
    for (const std::string& sub : subfolders) visitFolder(sub);
  }

  void visitFile(const std::string& path, const struct stat& st) {
    if (!S_ISREG(st.st_mode)) {
      if (!endsWithXmp(path)) ++out_->skipped;  // a FIFO named like a sidecar is no photo either
      return;
    }
    if (!seen_.insert(path).second) return;
    // O_NONBLOCK: should the file have become a FIFO since stat, opening it must not wait.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
      out_->errors.push_back(folder_messages::couldNotRead(path, std::strerror(errno)));
      return;
    }
    std::string head(kSniffBytes, '\0');
    size_t have = 0;
    while (have < head.size()) {
      const ssize_t got = ::read(fd, head.data() + have, head.size() - have);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        out_->errors.push_back(folder_messages::couldNotRead(path, std::strerror(errno)));
        ::close(fd);
        return;
      }
      if (got == 0) break;
      have += static_cast<size_t>(got);
    }
    ::close(fd);
    head.resize(have);
    if (sniffFormat(head) != ImageFormat::kUnknown) {
      out_->photos.push_back(path);
    } else if (!endsWithXmp(path)) {
      ++out_->skipped;
    }
  }

  bool recursive_;
  ScanResult* out_;
  std::time_t started_;
  std::set<std::string> seen_;
};

}  // namespace

ScanResult scanPaths(const std::vector<std::string>& paths, bool recursive) {
  ScanResult result;
  Scanner scanner(recursive, &result);
  for (const std::string& path : paths) scanner.visitArgument(path);
  return result;
}

void removeStaleTemporaries(const ScanResult& scan) {
  for (const std::string& path : scan.staleTemporaries) {
    // Gone already (another run removed it) or not ours to remove: nothing to report.
    (void)::unlink(path.c_str());
  }
}

}  // namespace velto
