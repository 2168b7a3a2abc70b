// For the fuzz targets: standard output and error captured while an input is handled, and an
// abort when anything was printed (the code under test, and the libraries underneath, must
// stay silent). Sanitizer reports still reach the real standard error.
#pragma once

#include <sanitizer/common_interface_defs.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz_output {

inline int realStdout = -1;
inline int realStderr = -1;
inline int captureFd = -1;  // standard output and error point here while an input is handled

// Once, before the first input.
inline void prepare() {
  realStdout = ::dup(1);
  realStderr = ::dup(2);
  captureFd = ::memfd_create("velto-fuzz-output", MFD_CLOEXEC);
  if (realStdout < 0 || realStderr < 0 || captureFd < 0) std::abort();
  __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(realStderr)));
}

inline void capture() {
  std::fflush(stdout);
  std::fflush(stderr);
  ::dup2(captureFd, 1);
  ::dup2(captureFd, 2);
}

// Restores both streams; aborts, showing what was printed, when anything was.
inline void checkNothingPrinted(const char* what) {
  std::fflush(stdout);
  std::fflush(stderr);
  ::dup2(realStdout, 1);
  ::dup2(realStderr, 2);
  struct stat st {};
  if (::fstat(captureFd, &st) != 0 || st.st_size == 0) return;
  char text[4096];
  const ssize_t got = ::pread(captureFd, text, sizeof text, 0);
  std::fprintf(stderr, "%s printed %lld bytes:\n%.*s\n", what, static_cast<long long>(st.st_size),
               static_cast<int>(got > 0 ? got : 0), text);
  std::abort();
}

}  // namespace fuzz_output
