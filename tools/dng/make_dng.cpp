// velto-make-dng <photo> <out.dng> [--orientation 1|3|6|8] [--preview]
//
// Writes a DNG camera raw file made from an ordinary photo, so that tests and benchmarks have
// raw files without shipping any: the photo's pixels, linearised, sampled through an RGGB
// colour filter at full size as 16-bit sensor data, with a colour matrix that makes the
// camera's colours those of sRGB. The pixels are stored turned so that the Orientation tag
// makes them upright again. With --preview the first directory holds a JPEG preview of the
// whole picture (as cameras and converters write them) and the sensor data a sub-directory;
// without it the first directory holds the sensor data itself (as phones write them).
#include <tiffio.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

namespace {

// The stored pixels that orientation `o` shows as `upright`.
cv::Mat storedFor(const cv::Mat& upright, int o) {
  cv::Mat stored = upright.clone();
  if (o == 3) cv::rotate(upright, stored, cv::ROTATE_180);
  if (o == 6) cv::rotate(upright, stored, cv::ROTATE_90_COUNTERCLOCKWISE);
  if (o == 8) cv::rotate(upright, stored, cv::ROTATE_90_CLOCKWISE);
  return stored;
}

void setDngTags(TIFF* tif, int orientation) {
  static const uint8_t kVersion[4] = {1, 4, 0, 0};
  // XYZ (D65) to linear sRGB: the camera sees sRGB primaries.
  static const float kXyzToCamera[9] = {3.2406f, -1.5372f, -0.4986f, -0.9689f, 1.8758f,
                                        0.0415f, 0.0557f,  -0.2040f, 1.0570f};
  static const float kNeutral[3] = {1.0f, 1.0f, 1.0f};
  TIFFSetField(tif, TIFFTAG_DNGVERSION, kVersion);
  TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, "velto test camera");
  TIFFSetField(tif, TIFFTAG_MAKE, "velto");
  TIFFSetField(tif, TIFFTAG_MODEL, "test camera");
  TIFFSetField(tif, TIFFTAG_ORIENTATION, static_cast<uint16_t>(orientation));
  TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, kXyzToCamera);
  TIFFSetField(tif, TIFFTAG_CALIBRATIONILLUMINANT1, static_cast<uint16_t>(21));  // D65
  TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, kNeutral);
}

bool writeRaw(TIFF* tif, const cv::Mat& rgb) {
  static const uint16_t kRepeat[2] = {2, 2};
  static const uint8_t kPattern[4] = {0, 1, 1, 2};  // R G / G B
  static const uint32_t kWhite[1] = {65535};
  TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(rgb.cols));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rgb.rows));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, 32803);  // colour filter array
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(rgb.rows));
  TIFFSetField(tif, TIFFTAG_CFAREPEATPATTERNDIM, kRepeat);
  TIFFSetField(tif, TIFFTAG_CFAPATTERN, 4, kPattern);
  TIFFSetField(tif, TIFFTAG_WHITELEVEL, 1, kWhite);
  // sRGB-encoded levels to linear sensor counts.
  std::vector<uint16_t> linear(256);
  for (int v = 0; v < 256; ++v) {
    const double c = v / 255.0;
    const double l = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    linear[v] = static_cast<uint16_t>(std::lround(l * 65535));
  }
  std::vector<uint16_t> row(rgb.cols);
  for (int y = 0; y < rgb.rows; ++y) {
    const auto* src = rgb.ptr<cv::Vec3b>(y);
    for (int x = 0; x < rgb.cols; ++x) {
      const int channel = (y % 2) + (x % 2);  // 0 red, 1 green, 2 blue
      row[x] = linear[src[x][channel]];
    }
    if (TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0) != 1) return false;
  }
  return TIFFWriteDirectory(tif) == 1;
}

bool writePreview(TIFF* tif, const cv::Mat& rgb) {
  cv::Mat bgr;
  cv::cvtColor(rgb, bgr, cv::COLOR_RGB2BGR);
  std::vector<uint8_t> jpeg;
  if (!cv::imencode(".jpg", bgr, jpeg, {cv::IMWRITE_JPEG_QUALITY, 90})) return false;
  uint64_t subIfd = 0;
  TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(rgb.cols));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(rgb.rows));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(rgb.rows));
  TIFFSetField(tif, TIFFTAG_SUBIFD, 1, &subIfd);
  // The encoded JPEG goes in as it is: libtiff's own encoder is never run.
  return TIFFWriteRawStrip(tif, 0, jpeg.data(), static_cast<tmsize_t>(jpeg.size())) >= 0 &&
         TIFFWriteDirectory(tif) == 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: velto-make-dng <photo> <out.dng> [--orientation N] [--preview]\n");
    return 2;
  }
  int orientation = 1;
  bool preview = false;
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--preview") == 0) preview = true;
    if (std::strcmp(argv[i], "--orientation") == 0 && i + 1 < argc)
      orientation = std::atoi(argv[++i]);
  }
  cv::Mat bgr = cv::imread(argv[1], cv::IMREAD_COLOR);
  if (bgr.empty()) {
    std::fprintf(stderr, "velto-make-dng: cannot read %s\n", argv[1]);
    return 1;
  }
  cv::Mat rgb;
  cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
  rgb = storedFor(rgb, orientation);
  TIFF* tif = TIFFOpen(argv[2], "w");
  if (tif == nullptr) return 1;
  setDngTags(tif, orientation);
  const bool ok = preview ? writePreview(tif, rgb) && writeRaw(tif, rgb) : writeRaw(tif, rgb);
  TIFFClose(tif);
  if (!ok) std::fprintf(stderr, "velto-make-dng: cannot write %s\n", argv[2]);
  return ok ? 0 : 1;
}
