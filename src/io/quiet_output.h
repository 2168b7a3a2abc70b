#pragma once
// Keeping libraries that print on their own off the standard streams, while the programs'
// own lines still get through.

#include <functional>

namespace velto {

// Points standard output and standard error at /dev/null while alive, for libraries that print
// and offer no way to stop them (dav1d under libheif logs corrupt data, Debian's libjxl reports
// every decoding failure with its source line). Several threads may hold
// one at once: the streams are redirected when the first is made and restored when the last
// is gone.
class OutputSilenced {
 public:
  OutputSilenced();
  ~OutputSilenced();
  OutputSilenced(const OutputSilenced&) = delete;
  OutputSilenced& operator=(const OutputSilenced&) = delete;
};

// Runs `write` (which writes to standard output or error) while the streams are not silenced,
// and flushes both after it: waits until no OutputSilenced is alive, and keeps new ones waiting
// until it is done.
void withOutputOpen(const std::function<void()>& write);

}  // namespace velto
