// Header sniffing (format, declared size, size limit) and the Exif orientation parser.
#include "fprint/image_header.h"

#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "decode_test_images.h"
#include "fprint/exif_orientation.h"
#include "fprint/image_decode.h"

namespace velto {
namespace {

using namespace velto::testing;

TEST(DecodeHeaderTest, FormatAndDeclaredSizeOfRealFiles) {
  const cv::Mat picture = quadrantPicture(37, 23);
  const cv::Mat grey(23, 37, CV_8UC1, cv::Scalar(90));
  struct Case {
    std::string name;
    std::string bytes;
    ImageFormat format;
  };
  const std::vector<Case> cases = {
      {"jpeg", encode(picture, ".jpg"), ImageFormat::Jpeg},
      {"progressive jpeg", encode(picture, ".jpg", {cv::IMWRITE_JPEG_PROGRESSIVE, 1}),
       ImageFormat::Jpeg},
      {"jpeg with exif first", insertAfterSoi(encode(picture, ".jpg"), exifApp1(6)),
       ImageFormat::Jpeg},
      {"cmyk jpeg", cmykJpeg(picture, true), ImageFormat::Jpeg},
      {"png", encode(picture, ".png"), ImageFormat::Png},
      {"webp lossy (VP8)", encode(picture, ".webp", {cv::IMWRITE_WEBP_QUALITY, 80}),
       ImageFormat::Webp},
      {"webp lossless (VP8L)", encode(picture, ".webp", {cv::IMWRITE_WEBP_QUALITY, 101}),
       ImageFormat::Webp},
      {"webp extended (VP8X)", webpWithExif(picture, 3), ImageFormat::Webp},
      {"tiff", encode(picture, ".tiff"), ImageFormat::Tiff},
      {"tiff by hand", rawTiff(picture, 0), ImageFormat::Tiff},
      {"bmp", encode(picture, ".bmp"), ImageFormat::Bmp},
      {"grey bmp", encode(grey, ".bmp"), ImageFormat::Bmp},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sniffFormat(c.bytes), c.format) << c.name;
    EXPECT_EQ(readDeclaredSize(c.bytes, c.format), (ImageSize{37, 23})) << c.name;
    // Every prefix too short to hold the size gives nothing rather than a wrong size.
    for (size_t cut = 0; cut < 30 && cut < c.bytes.size(); ++cut) {
      const auto size = readDeclaredSize(c.bytes.substr(0, cut), c.format);
      if (size) {
        EXPECT_EQ(*size, (ImageSize{37, 23})) << c.name << " cut " << cut;
      }
    }
  }
}

TEST(DecodeHeaderTest, OddlyBuiltHeaders) {
  const std::string sof0 = std::string("\xFF\xC0\x00\x11\x08\x00\x17\x00\x25", 9);
  const std::string dht = std::string("\xFF\xC4\x00\x04\x00\x00", 6);
  const std::string sos = std::string("\xFF\xDA\x00\x02", 4);
  const std::string soi = "\xFF\xD8";
  const std::string bigEndianTiff = tiffStructure(true, {{256, 3, 1, 37}, {257, 3, 1, 23}});
  const std::vector<std::tuple<std::string, std::string, ImageFormat, std::optional<ImageSize>>>
      cases = {
          {"jpeg: fill bytes and stray bytes before SOF", soi + dht + "ab\xFF\xFF" + sof0.substr(1),
           ImageFormat::Jpeg, ImageSize{37, 23}},
          {"jpeg: DHT is no frame header", soi + dht + sos, ImageFormat::Jpeg, std::nullopt},
          {"jpeg: scan before any frame", soi + sos + sof0, ImageFormat::Jpeg, std::nullopt},
          {"jpeg: SOF cut short", soi + sof0.substr(0, 7), ImageFormat::Jpeg, std::nullopt},
          {"tiff: big-endian SHORT sides", bigEndianTiff, ImageFormat::Tiff, ImageSize{37, 23}},
          {"tiff: no height", tiffStructure(false, {{256, 4, 1, 37}}), ImageFormat::Tiff,
           std::nullopt},
          {"tiff: sides of type ASCII", tiffStructure(false, {{256, 2, 1, 37}, {257, 2, 1, 23}}),
           ImageFormat::Tiff, std::nullopt},
          {"tiff: IFD beyond the end", std::string("II*\0\xFF\0\0\0", 8), ImageFormat::Tiff,
           std::nullopt},
          {"bigtiff", std::string("II+\0\x08\0\0\0", 8), ImageFormat::Unknown, std::nullopt},
          {"asked as another format", encode(quadrantPicture(8, 8), ".png"), ImageFormat::Jpeg,
           std::nullopt},
      };
  for (const auto& [name, bytes, format, size] : cases) {
    EXPECT_EQ(readDeclaredSize(bytes, format), size) << name;
  }
}

TEST(DecodeHeaderTest, HeifIsToldByItsFtypBrands) {
  const auto ftyp = [](std::string brands, uint32_t declaredSize = 0) {
    const uint32_t size = declaredSize ? declaredSize : uint32_t(8 + brands.size());
    std::string box = {0, 0, char(size >> 8), char(size)};
    return box + "ftyp" + brands + std::string(64, '\0');
  };
  const std::vector<std::tuple<std::string, std::string, ImageFormat>> cases = {
      {"heic", ftyp(std::string("heic\0\0\0\0mif1heic", 16)), ImageFormat::Heif},
      {"avif", ftyp(std::string("avif\0\0\0\0mif1miaf", 16)), ImageFormat::Heif},
      {"compatible brand only", ftyp(std::string("isom\0\0\0\0mif1", 12)), ImageFormat::Heif},
      {"mp4 video", ftyp(std::string("mp42\0\0\0\0isommp42", 16)), ImageFormat::Unknown},
      {"box larger than data", ftyp(std::string("heic\0\0\0\0", 8), 4000), ImageFormat::Unknown},
      {"box too small", ftyp(std::string("heic\0\0\0\0", 8), 12), ImageFormat::Unknown},
      {"cut short",
       std::string("\0\0\0\x18"
                   "ftyphe",
                   10),
       ImageFormat::Unknown},
  };
  for (const auto& [name, bytes, format] : cases) EXPECT_EQ(sniffFormat(bytes), format) << name;
  for (const std::string& tiny : {std::string(), std::string("\xFF"), std::string("RIFF"),
                                  std::string("II*"), std::string("\x89PNG")}) {
    EXPECT_EQ(sniffFormat(tiny), ImageFormat::Unknown) << tiny.size();
  }
}

TEST(DecodeHeaderTest, SizeLimit) {
  const std::vector<std::pair<ImageSize, bool>> cases = {
      {{1, 1}, true},
      {{16384, 16384}, true},  // exactly MAX_IMAGE_PIXELS
      {{MAX_IMAGE_PIXELS, 1}, true},
      {{16385, 16384}, false},
      {{1, MAX_IMAGE_PIXELS + 1}, false},
      {{0, 5}, false},
      {{5, 0}, false},
      {{-1, -1}, false},
      {{int64_t{1} << 40, int64_t{1} << 40}, false},  // the product would overflow
  };
  for (const auto& [size, ok] : cases) {
    EXPECT_EQ(acceptableSize(size), ok) << size.width << " x " << size.height;
  }
}

TEST(DecodeExifTest, OrientationFromExifPayloads) {
  const auto tiff = [](bool be, std::vector<IfdEntry> entries) {
    return tiffStructure(be, entries);
  };
  const std::string exifPrefix("Exif\0\0", 6);
  std::string truncatedIfd = tiff(false, {{0x0112, 3, 1, 6}, {0x010F, 2, 4, 0}});
  truncatedIfd[8] = 100;  // claims 100 entries, holds 2 and then ends
  const std::vector<std::tuple<std::string, std::string, int64_t>> cases = {
      {"big-endian", tiff(true, {{0x0112, 3, 1, 6}}), 6},
      {"little-endian", tiff(false, {{0x0112, 3, 1, 8}}), 8},
      {"with Exif prefix", exifPrefix + tiff(true, {{0x0112, 3, 1, 3}}), 3},
      {"after other tags", tiff(false, {{0x010F, 2, 4, 0}, {0x0110, 2, 4, 0}, {0x0112, 3, 1, 5}}),
       5},
      {"entries cut short after it", truncatedIfd, 6},
      {"absent", tiff(true, {{0x010F, 2, 4, 0}}), 1},
      {"value 0", tiff(true, {{0x0112, 3, 1, 0}}), 1},
      {"value 9", tiff(true, {{0x0112, 3, 1, 9}}), 1},
      {"type LONG", tiff(true, {{0x0112, 4, 1, 6}}), 1},
      {"two values", tiff(true, {{0x0112, 3, 2, 6}}), 1},
      {"wrong magic", "MM\0+" + tiff(true, {{0x0112, 3, 1, 6}}).substr(4), 1},
      {"mixed byte order mark", "MI" + tiff(true, {{0x0112, 3, 1, 6}}).substr(2), 1},
      {"IFD inside the header", std::string("MM\0*\0\0\0\4\0\1", 10), 1},
      {"IFD beyond the end", std::string("MM\0*\x7F\0\0\0", 8), 1},
      {"empty", "", 1},
      {"prefix only", exifPrefix, 1},
  };
  for (const auto& [name, bytes, expected] : cases) {
    EXPECT_EQ(orientationFromExif(bytes), expected) << name;
  }
}

TEST(DecodeExifTest, ExifChunksInPngAndWebp) {
  const cv::Mat picture = quadrantPicture(16, 8);
  const std::string payload = exifApp1(6).substr(4);  // with its "Exif\0\0" prefix
  const std::string png = encode(picture, ".png");
  const size_t iend = png.size() - 12;
  const std::string afterData = insertPngChunk(png, "tEXt", std::string("a\0b", 3));
  std::string lateExif = afterData.substr(0, afterData.size() - 12) +
                         insertPngChunk(png, "eXIf", payload).substr(33, 12 + payload.size()) +
                         afterData.substr(afterData.size() - 12);
  std::string badLength = insertPngChunk(png, "eXIf", payload);
  badLength[33] = '\x7F';  // the chunk claims 2 GB
  EXPECT_EQ(orientationInPng(png), 1);
  EXPECT_EQ(orientationInPng(insertPngChunk(png, "eXIf", payload)), 6);
  EXPECT_EQ(orientationInPng(lateExif), 6);
  EXPECT_EQ(orientationInPng(badLength), 1);
  EXPECT_EQ(orientationInPng(png.substr(0, iend) + "garbage"), 1);
  EXPECT_EQ(orientationInWebp(webpWithExif(picture, 8)), 8);
  EXPECT_EQ(orientationInWebp(encode(picture, ".webp")), 1);
  EXPECT_EQ(orientationInWebp(webpWithExif(picture, 8).substr(0, 60)), 1);
}

}  // namespace
}  // namespace velto
