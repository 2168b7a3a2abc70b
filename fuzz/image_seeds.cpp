// Writes the seed corpus of the image fuzzer into a folder: small files of every format and
// variant the decoder handles (colour types, bit depths, orientations, thumbnails), made with
// the tests' synthetic pictures so that they need not be kept in the repository.
//
//   velto-image-seeds <folder>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "decode_test_images.h"

namespace {

using namespace velto::testing;

int64_t written = 0;

void put(const std::string& folder, const std::string& name, const std::string& bytes) {
  std::ofstream f(folder + "/" + name, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (f) ++written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velto-image-seeds <folder>\n");
    return 1;
  }
  const std::string dir = argv[1];
  const cv::Mat small = quadrantPicture(40, 24);
  const cv::Mat odd = quadrantPicture(37, 29);
  cv::Mat grey;
  cv::extractChannel(small, grey, 1);

  put(dir, "baseline.jpg", encode(small, ".jpg"));
  put(dir, "progressive.jpg", encode(odd, ".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1}));
  put(dir, "grey.jpg", encode(grey, ".jpg"));
  put(dir, "exif6.jpg", insertAfterSoi(encode(small, ".jpg"), exifApp1(6)));
  put(dir, "exif8-le.jpg", insertAfterSoi(encode(odd, ".jpg"), exifApp1(8, false)));
  put(dir, "cmyk-adobe.jpg", cmykJpeg(small, true));
  put(dir, "cmyk.jpg", cmykJpeg(small, false));
  put(dir, "rgb.png", encode(small, ".png"));
  put(dir, "grey.png", encode(grey, ".png"));
  put(dir, "exif3.png", insertPngChunk(encode(odd, ".png"), "eXIf",
                                       tiffStructure(true, {{0x0112, 3, 1, 3u << 16}})));
  // Palette with transparency, grey + alpha, 16-bit RGBA, 1-bit grey.
  put(dir, "palette.png", writePng(4, 3, 3, 8, {0, 1, 2, 1, 0, 1, 2, 1, 0, 1, 2, 0},
                                   {255, 0, 0, 0, 255, 0, 0, 0, 255}, {128, 255}));
  put(dir, "grey-alpha.png", writePng(2, 2, 4, 8, {10, 255, 20, 128, 30, 0, 40, 64}));
  std::vector<uint16_t> rgba16;
  for (int k = 0; k < 3 * 2 * 4; ++k) rgba16.push_back(static_cast<uint16_t>(k * 2731));
  put(dir, "rgba16.png", writePng(3, 2, 6, 16, rgba16));
  put(dir, "grey1.png", writePng(9, 2, 0, 1, {1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0}));
  put(dir, "lossless.webp", encode(small, ".webp", {cv::IMWRITE_WEBP_QUALITY, 101}));
  put(dir, "lossy.webp", encode(odd, ".webp", {cv::IMWRITE_WEBP_QUALITY, 50}));
  put(dir, "exif5.webp", webpWithExif(small, 5));
  put(dir, "opencv.tiff", encode(small, ".tiff"));
  put(dir, "raw-orient7.tiff", rawTiff(odd, 7));
  cv::Mat rgba;
  cv::cvtColor(small, rgba, cv::COLOR_RGB2RGBA);
  put(dir, "rgba.tiff", rawTiff(rgba, 1));
  put(dir, "rgb.bmp", encode(small, ".bmp"));
  put(dir, "grey.bmp", encode(grey, ".bmp"));
  if (auto heic = encodeHeif(small, false, 6, 16)) put(dir, "thumb-irot.heic", *heic);
  if (auto heic = encodeHeif(odd, false)) put(dir, "plain.heic", *heic);
  if (auto avif = encodeHeif(small, true, 2)) put(dir, "imir.avif", *avif);
  std::printf("%lld seeds in %s\n", static_cast<long long>(written), dir.c_str());
  return written > 0 ? 0 : 1;
}
