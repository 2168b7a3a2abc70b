#pragma once
// What the decoder tests look at: the quadrant picture the image fixtures were made from
// (tests/data/images), how far a decoded picture is from it, and decoding with the decoder's
// silence checked.

#include <gtest/gtest.h>

#include <cstdint>
#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

namespace velto::testing {

// The upright picture: four flat quadrants of distinct colours, so that every flip and turn
// is told apart. RGB, CV_8UC3.
cv::Mat quadrantPicture(int width, int height);
inline const cv::Vec3b kTopLeft{220, 30, 30};
inline const cv::Vec3b kTopRight{30, 200, 40};
inline const cv::Vec3b kBottomLeft{40, 40, 210};
inline const cv::Vec3b kBottomRight{230, 230, 60};

// The largest difference between the expected quadrant colours and the mean of the middle
// half of each quadrant of `rgb` (upright, RGB).
double quadrantError(const cv::Mat& rgb);

// OpenCV's encoder for `ext` (".jpg", ".png", ...) applied to RGB or grey pixels.
std::string encode(const cv::Mat& rgbOrGrey, const std::string& ext,
                   const std::vector<int>& params = {});

// The fixture files of one folder of tests/data/images, sorted by name.
std::vector<std::string> imageFixtures(const std::string& folder);

// Redirects standard output and standard error into a file while alive.
class CapturedOutput {
 public:
  CapturedOutput();
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;
  std::string text();  // restores both streams and returns what was written meanwhile

 private:
  int savedOut_ = -1;
  int savedErr_ = -1;
  std::string path_;
};

// Asks for decoding at full size, whatever the picture's sides.
inline constexpr int64_t kFullSize = INT64_MAX;

// Decodes with standard output and standard error captured, and fails the test on any output
// or on a picture that is not 8-bit RGB.
std::optional<cv::Mat> quietDecode(const std::string& bytes, int64_t minShortSide = kFullSize);

}  // namespace velto::testing
