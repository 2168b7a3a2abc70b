// libFuzzer target: image decoding on arbitrary bytes, at the scale the tool decodes at, and
// the network input made from the result (the network itself is left out: far too slow for
// fuzzing, and it only ever sees that fixed-size input). A decoded image must be non-empty
// 8-bit RGB; the input must be 224 x 224 x 3 floats in [0, 1]; and nothing may be printed, not
// even by the libraries underneath.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <opencv2/core.hpp>
#include <string>

#include "embedding/embedding_analysis.h"
#include "embedding/embedding_network.h"
#include "image/image_decode.h"
#include "output_check.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_output::prepare();
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
  fuzz_output::capture();
  const std::optional<cv::Mat> image = velto::decodeImageBytes(bytes, velto::kDecodeMinShortSide);
  fuzz_output::checkNothingPrinted("decoding");
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
