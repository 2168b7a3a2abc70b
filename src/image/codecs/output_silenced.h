#pragma once
// Keeping libraries that print from printing.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace velto {

// Points standard output and standard error at /dev/null while alive, for libraries that
// print and offer no way to stop them: libheif's AV1 decoder dav1d logs its complaints about
// corrupt data ("Unknown OBU type ...") through a default logger libheif 1.15 leaves in place,
// and Debian's libjxl reports every decoding failure with its source line. The programs print
// nothing but their one message line. Decoding runs on the calling thread and the libraries
// join their own threads before they return, so nothing else writes meanwhile.
class OutputSilenced {
 public:
  OutputSilenced() {
    std::fflush(stdout);
    std::fflush(stderr);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    for (int i = 0; i < 2; ++i) {
      saved_[i] = ::fcntl(i + 1, F_DUPFD_CLOEXEC, 3);
      if (saved_[i] >= 0 && null >= 0) ::dup2(null, i + 1);
    }
    if (null >= 0) ::close(null);
  }
  ~OutputSilenced() {
    std::fflush(stdout);
    std::fflush(stderr);
    for (int i = 0; i < 2; ++i) {
      if (saved_[i] < 0) continue;
      ::dup2(saved_[i], i + 1);
      ::close(saved_[i]);
    }
  }
  OutputSilenced(const OutputSilenced&) = delete;
  OutputSilenced& operator=(const OutputSilenced&) = delete;

 private:
  int saved_[2] = {-1, -1};
};

}  // namespace velto
