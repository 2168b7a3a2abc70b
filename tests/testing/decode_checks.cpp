#include "testing/decode_checks.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <stdexcept>

#include "image/image_decode.h"
#include "testing/test_support.h"

namespace velto::testing {

cv::Mat quadrantPicture(int width, int height) {
  const int w = width / 2, h = height / 2;
  cv::Mat out(height, width, CV_8UC3, cv::Scalar(kBottomRight));
  out(cv::Rect(0, 0, w, h)).setTo(cv::Scalar(kTopLeft));
  out(cv::Rect(w, 0, width - w, h)).setTo(cv::Scalar(kTopRight));
  out(cv::Rect(0, h, w, height - h)).setTo(cv::Scalar(kBottomLeft));
  return out;
}

double quadrantError(const cv::Mat& rgb) {
  const int w = rgb.cols / 2;
  const int h = rgb.rows / 2;
  const std::array<std::pair<cv::Point, cv::Vec3b>, 4> quadrants = {
      {{{0, 0}, kTopLeft}, {{w, 0}, kTopRight}, {{0, h}, kBottomLeft}, {{w, h}, kBottomRight}}};
  double worst = 0;
  for (const auto& [origin, colour] : quadrants) {
    const cv::Rect middle(origin.x + w / 4, origin.y + h / 4, std::max(w / 2, 1),
                          std::max(h / 2, 1));
    const cv::Scalar mean = cv::mean(rgb(middle));
    for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(mean[c] - colour[c]));
  }
  return worst;
}

std::string encode(const cv::Mat& rgbOrGrey, const std::string& ext,
                   const std::vector<int>& params) {
  cv::Mat bgr;  // a new buffer: converting into a copy of the header would change the original
  if (rgbOrGrey.channels() == 3) {
    cv::cvtColor(rgbOrGrey, bgr, cv::COLOR_RGB2BGR);
  } else if (rgbOrGrey.channels() == 4) {
    cv::cvtColor(rgbOrGrey, bgr, cv::COLOR_RGBA2BGRA);
  } else {
    bgr = rgbOrGrey;
  }
  std::vector<uchar> out;
  if (!cv::imencode(ext, bgr, out, params)) throw std::runtime_error("cannot encode " + ext);
  return std::string(out.begin(), out.end());
}

std::vector<std::string> imageFixtures(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(kImages + folder)) {
    files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

CapturedOutput::CapturedOutput() {
  static TempDir dir;  // one folder for the whole test run
  static int serial = 0;
  path_ = dir.file("output-" + std::to_string(serial++));
  std::fflush(stdout);
  std::fflush(stderr);
  const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  savedOut_ = ::dup(1);
  savedErr_ = ::dup(2);
  ::dup2(fd, 1);
  ::dup2(fd, 2);
  ::close(fd);
}

CapturedOutput::~CapturedOutput() { text(); }

std::string CapturedOutput::text() {
  if (savedOut_ >= 0) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::dup2(savedOut_, 1);
    ::dup2(savedErr_, 2);
    ::close(savedOut_);
    ::close(savedErr_);
    savedOut_ = savedErr_ = -1;
  }
  return readFile(path_);
}

std::optional<cv::Mat> quietDecode(const std::string& bytes, int64_t minShortSide) {
  CapturedOutput captured;
  std::optional<cv::Mat> image = decodeImageBytes(bytes, minShortSide);
  EXPECT_EQ(captured.text(), "");
  if (image) {
    EXPECT_EQ(image->type(), CV_8UC3);
  }
  return image;
}

}  // namespace velto::testing
