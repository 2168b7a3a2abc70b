// libFuzzer target: image decoding on arbitrary bytes, at the scale the tool decodes at, and
// the network input made from the result (the network itself is left out: far too slow for
// fuzzing, and it only ever sees that fixed-size input). A decoded image must be non-empty
// 8-bit RGB; the input must be 224 x 224 x 3 floats in [0, 1]; and nothing may be printed, not
// even by the libraries underneath.
#include <sanitizer/common_interface_defs.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <opencv2/core.hpp>
#include <string>

#include "embedding/embedding_analysis.h"
#include "embedding/embedding_network.h"
#include "image/image_decode.h"

namespace {

int realStdout = -1;
int realStderr = -1;
int captureFd = -1;  // standard output and error point here while an input is decoded

void captureOutput() {
  std::fflush(stdout);
  std::fflush(stderr);
  ::dup2(captureFd, 1);
  ::dup2(captureFd, 2);
}

// Restores both streams; aborts, showing what was printed, when anything was.
void checkNothingPrinted() {
  std::fflush(stdout);
  std::fflush(stderr);
  ::dup2(realStdout, 1);
  ::dup2(realStderr, 2);
  struct stat st {};
  if (::fstat(captureFd, &st) != 0 || st.st_size == 0) return;
  char text[4096];
  const ssize_t got = ::pread(captureFd, text, sizeof text, 0);
  std::fprintf(stderr, "decoding printed %lld bytes:\n%.*s\n", static_cast<long long>(st.st_size),
               static_cast<int>(got > 0 ? got : 0), text);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  realStdout = ::dup(1);
  realStderr = ::dup(2);
  captureFd = ::memfd_create("velto-fuzz-output", MFD_CLOEXEC);
  if (realStdout < 0 || realStderr < 0 || captureFd < 0) std::abort();
  // Sanitizer reports must reach the real standard error even while it is captured.
  __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(realStderr)));
  // One thread: findings stay reproducible, and the fuzzer shares the machine politely. The
  // first calls set up library state that lives until exit; doing it here keeps the leak
  // check from taking it for a leak of the first input.
  cv::setNumThreads(0);
  (void)velto::decodeImageBytes(std::string(), velto::kDecodeMinShortSide);
  (void)velto::networkInput(cv::Mat(300, 400, CV_8UC3, cv::Scalar(1, 2, 3)));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  captureOutput();
  const std::optional<cv::Mat> image = velto::decodeImageBytes(bytes, velto::kDecodeMinShortSide);
  checkNothingPrinted();
  if (!image) return 0;
  if (image->empty() || image->type() != CV_8UC3) std::abort();
  const cv::Mat input = velto::networkInput(*image);
  const int side = static_cast<int>(velto::kNetworkInputSide);
  if (input.rows != side || input.cols != side || input.type() != CV_32FC3) std::abort();
  double lo = 0;
  double hi = 0;
  cv::minMaxIdx(input.reshape(1), &lo, &hi);
  if (lo < 0.0 || hi > 1.0) std::abort();
  return 0;
}
