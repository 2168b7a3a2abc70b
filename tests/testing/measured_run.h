#pragma once
// Running a program as a child with a time limit, measuring its wall time and peak memory.

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace velto::testing {

struct MeasuredRun {
  int status = -1;           // exit status, or 128 + signal number
  bool timedOut = false;     // killed for running past the limit
  std::string out;           // standard output
  std::string err;           // standard error
  double seconds = 0;        // wall time
  int64_t peakRssBytes = 0;  // the child's own peak resident set size (from wait4)
};

// Starts `program` with `args` (not counting its own name), its standard input, output and
// error on the files at the given paths (created or emptied). Returns the child's pid.
pid_t startChild(const std::string& program, const std::vector<std::string>& args,
                 const std::string& inPath, const std::string& outPath, const std::string& errPath);

// Runs `program` with `args` (not counting its own name), standard input from /dev/null, and
// kills it with SIGKILL after `limitSeconds`. The peak memory is the child's alone, not the
// largest of every child this process ever had.
MeasuredRun runMeasured(const std::string& program, const std::vector<std::string>& args,
                        double limitSeconds);

}  // namespace velto::testing
