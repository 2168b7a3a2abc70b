#include "folder/progress.h"

#include <cmath>

#include "io/quiet_output.h"

namespace velto {

void Progress::start(const std::string& stage, int64_t total) {
  finish();
  stage_ = stage;
  total_ = total;
  done_ = 0;
  fromCache_ = 0;
  started_ = Clock::now();
  lastDrawn_ = started_;
}

void Progress::step(bool fromCache) {
  const std::lock_guard lock(mutex_);
  ++done_;
  fromCache_ += fromCache ? 1 : 0;
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (now - lastDrawn_ < std::chrono::milliseconds(100) && done_ < total_) return;
  lastDrawn_ = now;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  const double rate = seconds > 0 ? static_cast<double>(done_) / seconds : 0.0;
  const double left = rate > 0 ? static_cast<double>(total_ - done_) / rate : 0.0;
  // \r and "erase line": the line is rewritten in place, between the silences of decoders
  // that other threads run.
  withOutputOpen([&] {
    const std::string cached =
        fromCache_ > 0 ? " (" + std::to_string(fromCache_) + " from the cache)" : "";
    std::fprintf(stream_, "\r\033[K%s: %lld/%lld photos%s, %.1f photos/s, %.0f s left",
                 stage_.c_str(), static_cast<long long>(done_), static_cast<long long>(total_),
                 cached.c_str(), rate, std::ceil(left));
    std::fflush(stream_);
  });
  drawn_ = true;
}

void Progress::finish() {
  if (!drawn_) return;
  std::fprintf(stream_, "\r\033[K");
  std::fflush(stream_);
  drawn_ = false;
}

}  // namespace velto
