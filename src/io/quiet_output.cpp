#include "io/quiet_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace velto {
namespace {

struct Streams {
  std::mutex mutex;
  std::condition_variable changed;
  int silencers = 0;  // OutputSilenced alive
  int writers = 0;    // withOutputOpen waiting or writing; they go first
  bool writing = false;
  int saved[2] = {-1, -1};  // the real standard output and error while silenced
};

Streams& streams() {
  static Streams s;
  return s;
}

}  // namespace

OutputSilenced::OutputSilenced() {
  Streams& s = streams();
  std::unique_lock lock(s.mutex);
  s.changed.wait(lock, [&] { return s.writers == 0; });
  if (s.silencers++ > 0) return;
  std::fflush(stdout);
  std::fflush(stderr);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  for (int i = 0; i < 2; ++i) {
    s.saved[i] = ::fcntl(i + 1, F_DUPFD_CLOEXEC, 3);
    if (s.saved[i] >= 0 && null >= 0) ::dup2(null, i + 1);
  }
  if (null >= 0) ::close(null);
}

OutputSilenced::~OutputSilenced() {
  Streams& s = streams();
  {
    const std::lock_guard lock(s.mutex);
    if (--s.silencers > 0) return;
    // What the libraries left in the buffers goes to /dev/null, before the streams come back.
    std::fflush(stdout);
    std::fflush(stderr);
    for (int i = 0; i < 2; ++i) {
      if (s.saved[i] < 0) continue;
      ::dup2(s.saved[i], i + 1);
      ::close(s.saved[i]);
      s.saved[i] = -1;
    }
  }
  s.changed.notify_all();
}

void withOutputOpen(const std::function<void()>& write) {
  Streams& s = streams();
  {
    std::unique_lock lock(s.mutex);
    ++s.writers;
    s.changed.wait(lock, [&] { return s.silencers == 0 && !s.writing; });
    s.writing = true;
  }
  struct Done {
    Streams& s;
    ~Done() {
      std::fflush(stdout);
      std::fflush(stderr);
      {
        const std::lock_guard lock(s.mutex);
        s.writing = false;
        --s.writers;
      }
      s.changed.notify_all();
    }
  } done{s};
  write();
}

}  // namespace velto
