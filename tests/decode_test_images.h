#pragma once
// Synthetic test pictures for the image decoder, and the means to hand-craft the file
// structures OpenCV cannot write (Exif orientation, 2-channel PNG, CMYK JPEG, HEIF).

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

// The pixels a camera stores for upright picture `upright` when it writes Exif orientation
// `orientation`, from the tag's definition of where stored row 0 and column 0 are seen.
cv::Mat storedForOrientation(const cv::Mat& upright, int orientation);

// OpenCV's encoder for `ext` (".jpg", ".png", ...) applied to RGB or grey pixels.
std::string encode(const cv::Mat& rgbOrGrey, const std::string& ext,
                   const std::vector<int>& params = {});

// A TIFF structure holding IFD0 entries (tag, type, count, value-or-offset) only.
struct IfdEntry {
  uint16_t tag, type;
  uint32_t count, value;
};
std::string tiffStructure(bool bigEndian, const std::vector<IfdEntry>& entries);
// An Exif APP1 segment (marker included) declaring `orientation`.
std::string exifApp1(int orientation, bool bigEndian = true);
// `jpeg` with `segment` inserted right after its SOI marker.
std::string insertAfterSoi(const std::string& jpeg, const std::string& segment);
// `png` with a chunk inserted right after IHDR; a wrong CRC on request.
std::string insertPngChunk(const std::string& png, const std::string& type, const std::string& data,
                           bool badCrc = false);
// A lossless WebP of `rgb` rewritten into the extended format with an EXIF chunk.
std::string webpWithExif(const cv::Mat& rgb, int orientation);
// An uncompressed 8-bit TIFF of `rgb` (RGB, or RGBA marked as unassociated alpha), with an
// Orientation tag unless 0, and declaring `declaredWidth` x `declaredHeight` instead of the
// real size when those are given.
std::string rawTiff(const cv::Mat& rgb, int orientation, int64_t declaredWidth = -1,
                    int64_t declaredHeight = -1);

// A PNG through libpng with the given colour type and bit depth. `samples` holds every
// sample of every row in order; values must fit the bit depth.
std::string writePng(int width, int height, int colorType, int bitDepth,
                     const std::vector<uint16_t>& samples,
                     const std::vector<uint8_t>& paletteRgb = {},
                     const std::vector<uint8_t>& transparency = {});
// A PNG with just a signature and IHDR declaring the given size, plus an empty IDAT and IEND.
std::string pngHeaderOnly(uint32_t width, uint32_t height);

// A CMYK JPEG of `rgb` as Adobe applications write it (inverted, APP14 marker), or plain.
std::string cmykJpeg(const cv::Mat& rgb, bool adobe);

// HEIF (HEVC) or AVIF (AV1) from libheif's encoders, with `orientation` as irot/imir
// boxes and a thumbnail of the same pixels fitting `thumbnailBox` when that is positive, turned
// by `thumbnailOrientation` (0: the same as the image). Nothing when this libheif has no such
// encoder.
std::optional<std::string> encodeHeif(const cv::Mat& rgb, bool avif, int orientation = 1,
                                      int thumbnailBox = 0, int thumbnailOrientation = 0);

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

}  // namespace velto::testing
