#pragma once
// Wall-clock milliseconds for the benchmark programs.

#include <chrono>

namespace velto::bench {

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace velto::bench
