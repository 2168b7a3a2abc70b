#include "metadata/bmff_nesting.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace velto {
namespace {

constexpr int64_t kMaxBoxes = int64_t{1} << 16;
constexpr int64_t kHeldAllowance = int64_t{1} << 20;

uint64_t bigEndian(const unsigned char* p, int bytes) {
  uint64_t v = 0;
  for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
  return v;
}

// Where the child boxes of a box of type `type` start within its payload, for the boxes
// Exiv2 0.27 or libheif read as containers; -1 for other boxes. `payload` holds up to the
// payload's first byte (iinf's entry count is 2 or 4 bytes by its version).
int64_t childrenAt(const char* type, const unsigned char* payload, int64_t payloadSize) {
  static constexpr std::array<const char*, 12> kPlain = {"moov", "trak", "mdia", "minf",
                                                         "stbl", "edts", "udta", "dinf",
                                                         "iprp", "ipco", "grpl", "mvex"};
  for (const char* c : kPlain) {
    if (std::memcmp(type, c, 4) == 0) return 0;
  }
  if (std::memcmp(type, "meta", 4) == 0) return 4;  // version and flags
  if (std::memcmp(type, "dref", 4) == 0) return 8;  // version, flags, entry count
  if (std::memcmp(type, "uuid", 4) == 0) return 16;  // the UUID (Canon's holds boxes)
  if (std::memcmp(type, "iinf", 4) == 0) return payloadSize > 0 && payload[0] == 0 ? 6 : 8;
  return -1;
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool bmffNestingAcceptable(const std::string& path) {
  const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const int64_t fileSize = st.st_size;
  const int64_t maxHeld = 2 * fileSize + kHeldAllowance;

  struct Level {
    int64_t begin, end;  // the byte range of the boxes at this level
    int depth;
    int64_t held;  // payload bytes of the enclosing boxes
  };
  std::vector<Level> pending = {{0, fileSize, 0, 0}};
  int64_t boxes = 0;
  while (!pending.empty()) {
    const Level level = pending.back();
    pending.pop_back();
    int64_t at = level.begin;
    while (at + 8 <= level.end) {
      // Size, type, the 64-bit size when the size is 1, and the payload's first byte.
      unsigned char header[17] = {};
      const int64_t want = std::min<int64_t>(sizeof header, level.end - at);
      if (::pread(fd.get(), header, static_cast<size_t>(want), at) != want) return false;
      if (++boxes > kMaxBoxes) return false;
      uint64_t size = bigEndian(header, 4);
      int64_t headerSize = 8;
      if (size == 1) {
        if (want < 16) break;
        size = bigEndian(header + 8, 8);
        headerSize = 16;
      } else if (size == 0) {
        size = static_cast<uint64_t>(level.end - at);  // to the end of the enclosing box
      }
      if (size < static_cast<uint64_t>(headerSize) ||
          size > static_cast<uint64_t>(level.end - at)) {
        break;
      }
      const int64_t boxSize = static_cast<int64_t>(size);
      const int64_t payloadSize = boxSize - headerSize;
      const int64_t skip = childrenAt(reinterpret_cast<const char*>(header + 4),
                                      header + headerSize, std::min<int64_t>(payloadSize,
                                                                             want - headerSize));
      if (skip >= 0) {
        const Level inner = {at + headerSize + skip, at + boxSize, level.depth + 1,
                             level.held + payloadSize};
        if (inner.depth > kMaxBmffNesting || inner.held > maxHeld) return false;
        if (inner.begin < inner.end) pending.push_back(inner);
      }
      at += boxSize;
    }
  }
  return true;
}

}  // namespace velto
