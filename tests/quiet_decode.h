#pragma once
// Decoding in tests with the decoder's silence checked.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "decode_test_images.h"
#include "image/image_decode.h"

namespace velto::testing {

// Asks for decoding at full size, whatever the picture's sides.
inline constexpr int64_t kFullSize = INT64_MAX;

// Decodes with standard output and standard error captured, and fails the test on any output
// or on a picture that is not 8-bit RGB.
inline std::optional<cv::Mat> quietDecode(const std::string& bytes,
                                          int64_t minShortSide = kFullSize) {
  CapturedOutput captured;
  std::optional<cv::Mat> image = decodeImageBytes(bytes, minShortSide);
  EXPECT_EQ(captured.text(), "");
  if (image) {
    EXPECT_EQ(image->type(), CV_8UC3);
  }
  return image;
}

}  // namespace velto::testing
