#pragma once
// Progress on a terminal while the photos are worked through: how many are done, how fast,
// how long is left. Silent when the stream is no terminal, so logs and pipes stay clean.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>


namespace velto {

class Progress {
 public:
  // Draws on `stream` only when `enabled` (the caller checks that it is a terminal).
  Progress(std::FILE* stream, bool enabled) : stream_(stream), enabled_(enabled) {}
  ~Progress() { finish(); }

  // Starts a stage of `total` photos, named `stage` on the line.
  void start(const std::string& stage, int64_t total);
  // One more photo of the stage done (`fromCache`: its print was kept from an earlier run,
  // counted apart on the line); the line is redrawn at most ten times a second. Safe to call
  // from several threads.
  void step(bool fromCache = false);
  // Clears the line, so that the next message starts on a clean one.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;
  std::mutex mutex_;  // step() comes from every thread that analyses photos
  std::FILE* stream_;
  bool enabled_;
  bool drawn_ = false;
  std::string stage_;
  int64_t total_ = 0;
  int64_t done_ = 0;
  int64_t fromCache_ = 0;
  Clock::time_point started_;
  Clock::time_point lastDrawn_;
};

}  // namespace velto
