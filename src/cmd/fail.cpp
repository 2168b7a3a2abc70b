#include "cmd/fail.h"

#include <unistd.h>

#include <cerrno>

namespace velto {

void fail(const std::string& message) {
  const std::string line = message + "\n";
  // One write keeps the line whole even when several processes share the stream; the loop
  // only matters for a pipe that takes it in pieces.
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    const ssize_t done = ::write(STDERR_FILENO, p, left);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) break;
    p += done;
    left -= static_cast<size_t>(done);
  }
  // _exit: no static destructors of image libraries may print after the message.
  ::_exit(1);
}

}  // namespace velto
