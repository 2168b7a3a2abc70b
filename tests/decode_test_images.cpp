#include "decode_test_images.h"

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on
#include <fcntl.h>
#include <libheif/heif.h>
#include <png.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <functional>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <stdexcept>

#include "testing/test_support.h"

namespace velto::testing {

cv::Mat quadrantPicture(int width, int height) {
  cv::Mat out(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool top = y < height / 2;
      const bool left = x < width / 2;
      out.at<cv::Vec3b>(y, x) =
          top ? (left ? kTopLeft : kTopRight) : (left ? kBottomLeft : kBottomRight);
    }
  }
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

cv::Mat storedForOrientation(const cv::Mat& upright, int orientation) {
  const int W = upright.cols;
  const int H = upright.rows;
  // For stored pixel (r, c): where it is seen, as (y, x) in the upright picture. Orientations
  // 1-4 keep stored rows as rows; 5-8 store the picture's columns as rows.
  using Place = std::function<cv::Point(int r, int c)>;  // returns (x, y)
  const std::array<Place, 9> seenAt = {
      Place{},
      [](int r, int c) { return cv::Point(c, r); },
      [&](int r, int c) { return cv::Point(W - 1 - c, r); },
      [&](int r, int c) { return cv::Point(W - 1 - c, H - 1 - r); },
      [&](int r, int c) { return cv::Point(c, H - 1 - r); },
      [](int r, int c) { return cv::Point(r, c); },
      [&](int r, int c) { return cv::Point(W - 1 - r, c); },
      [&](int r, int c) { return cv::Point(W - 1 - r, H - 1 - c); },
      [&](int r, int c) { return cv::Point(r, H - 1 - c); }};
  const bool swapped = orientation >= 5;
  cv::Mat stored(swapped ? W : H, swapped ? H : W, upright.type());
  for (int r = 0; r < stored.rows; ++r) {
    for (int c = 0; c < stored.cols; ++c) {
      stored.at<cv::Vec3b>(r, c) = upright.at<cv::Vec3b>(seenAt[orientation](r, c));
    }
  }
  return stored;
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

namespace {

void put16(std::string& s, size_t at, uint32_t v, bool be) {
  s[at] = static_cast<char>(be ? v >> 8 : v);
  s[at + 1] = static_cast<char>(be ? v : v >> 8);
}
void put32(std::string& s, size_t at, uint32_t v, bool be) {
  for (size_t i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (be ? 24 - 8 * i : 8 * i));
}
std::string be32(uint32_t v) {
  std::string s(4, '\0');
  put32(s, 0, v, true);
  return s;
}
std::string le32(uint32_t v) {
  std::string s(4, '\0');
  put32(s, 0, v, false);
  return s;
}

uint32_t crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (const char ch : bytes) {
    crc ^= static_cast<uint8_t>(ch);
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string pngChunk(const std::string& type, const std::string& data, bool badCrc = false) {
  return be32(static_cast<uint32_t>(data.size())) + type + data +
         be32(crc32(type + data) ^ (badCrc ? 1u : 0u));
}

}  // namespace

std::string tiffStructure(bool bigEndian, const std::vector<IfdEntry>& entries) {
  std::string s = bigEndian ? std::string("MM\0*", 4) : std::string("II*\0", 4);
  s.resize(8 + 2 + entries.size() * 12 + 4, '\0');
  put32(s, 4, 8, bigEndian);
  put16(s, 8, static_cast<uint32_t>(entries.size()), bigEndian);
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t at = 10 + i * 12;
    const IfdEntry& e = entries[i];
    put16(s, at, e.tag, bigEndian);
    put16(s, at + 2, e.type, bigEndian);
    put32(s, at + 4, e.count, bigEndian);
    // A single SHORT is stored in the first two bytes of the value field.
    if (e.type == 3 && e.count == 1) {
      put16(s, at + 8, e.value, bigEndian);
    } else {
      put32(s, at + 8, e.value, bigEndian);
    }
  }
  return s;
}

std::string exifApp1(int orientation, bool bigEndian) {
  const std::string payload = std::string("Exif\0\0", 6) +
                              tiffStructure(bigEndian, {{0x0112, 3, 1, uint32_t(orientation)}});
  std::string marker = "\xFF\xE1__";
  put16(marker, 2, static_cast<uint32_t>(payload.size() + 2), true);
  return marker + payload;
}

std::string insertAfterSoi(const std::string& jpeg, const std::string& segment) {
  return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

std::string insertPngChunk(const std::string& png, const std::string& type, const std::string& data,
                           bool badCrc) {
  const size_t afterIhdr = 8 + 12 + 13;
  return png.substr(0, afterIhdr) + pngChunk(type, data, badCrc) + png.substr(afterIhdr);
}

std::string webpWithExif(const cv::Mat& rgb, int orientation) {
  const std::string simple = encode(rgb, ".webp", {cv::IMWRITE_WEBP_QUALITY, 101});
  std::string vp8x = "VP8X" + le32(10) + std::string(10, '\0');
  vp8x[8] = 0x08;  // flags: has EXIF
  const uint32_t w = static_cast<uint32_t>(rgb.cols - 1);
  const uint32_t h = static_cast<uint32_t>(rgb.rows - 1);
  for (size_t i = 0; i < 3; ++i) {
    vp8x[12 + i] = static_cast<char>(w >> (8 * i));
    vp8x[15 + i] = static_cast<char>(h >> (8 * i));
  }
  std::string exif = tiffStructure(false, {{0x0112, 3, 1, uint32_t(orientation)}});
  std::string exifChunk = "EXIF" + le32(static_cast<uint32_t>(exif.size())) + exif;
  if (exif.size() % 2 != 0) exifChunk += '\0';
  const std::string body = "WEBP" + vp8x + simple.substr(12) + exifChunk;
  return "RIFF" + le32(static_cast<uint32_t>(body.size())) + body;
}

std::string rawTiff(const cv::Mat& rgb, int orientation, int64_t declaredWidth,
                    int64_t declaredHeight) {
  const uint32_t w = static_cast<uint32_t>(declaredWidth >= 0 ? declaredWidth : rgb.cols);
  const uint32_t h = static_cast<uint32_t>(declaredHeight >= 0 ? declaredHeight : rgb.rows);
  const uint32_t channels = static_cast<uint32_t>(rgb.channels());
  const uint32_t dataBytes = static_cast<uint32_t>(rgb.total() * channels);
  std::vector<IfdEntry> entries = {{256, 4, 1, w},        {257, 4, 1, h}, {258, 3, channels, 0},
                                   {259, 3, 1, 1},        {262, 3, 1, 2}, {273, 4, 1, 0},
                                   {277, 3, 1, channels}, {278, 4, 1, h}, {279, 4, 1, dataBytes}};
  if (orientation != 0) entries.insert(entries.begin() + 6, {274, 3, 1, uint32_t(orientation)});
  if (channels == 4) entries.push_back({338, 3, 1, 2});  // ExtraSamples: unassociated alpha
  std::string tiff = tiffStructure(false, entries);
  // BitsPerSample's values and then the pixels follow the IFD.
  const uint32_t bitsAt = static_cast<uint32_t>(tiff.size());
  const uint32_t pixelsAt = bitsAt + 2 * channels;
  for (uint32_t i = 0; i < channels; ++i) tiff += std::string("\x08\0", 2);
  tiff.append(reinterpret_cast<const char*>(rgb.data), dataBytes);
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t valueAt = 10 + i * 12 + 8;
    if (entries[i].tag == 258) put32(tiff, valueAt, bitsAt, false);
    if (entries[i].tag == 273) put32(tiff, valueAt, pixelsAt, false);
  }
  return tiff;
}

std::string writePng(int width, int height, int colorType, int bitDepth,
                     const std::vector<uint16_t>& samples, const std::vector<uint8_t>& paletteRgb,
                     const std::vector<uint8_t>& transparency) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::string out;
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, size_t n) {
        static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<char*>(data), n);
      },
      nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
               bitDepth, colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette;
  for (size_t i = 0; i + 2 < paletteRgb.size(); i += 3) {
    palette.push_back({paletteRgb[i], paletteRgb[i + 1], paletteRgb[i + 2]});
  }
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  if (!transparency.empty()) {
    png_set_tRNS(png, info, transparency.data(), static_cast<int>(transparency.size()), nullptr);
  }
  png_write_info(png, info);
  const size_t perRow = samples.size() / static_cast<size_t>(height);
  std::vector<uint8_t> row(perRow * 2 + 1);
  for (int y = 0; y < height; ++y) {
    // Packs samples of 1-8 bits MSB first, or writes 16-bit samples big-endian.
    std::fill(row.begin(), row.end(), 0);
    for (size_t i = 0; i < perRow; ++i) {
      const uint16_t v = samples[static_cast<size_t>(y) * perRow + i];
      if (bitDepth == 16) {
        row[2 * i] = static_cast<uint8_t>(v >> 8);
        row[2 * i + 1] = static_cast<uint8_t>(v);
      } else {
        const size_t bit = i * static_cast<size_t>(bitDepth);
        row[bit / 8] |= static_cast<uint8_t>(v << (8 - bitDepth - static_cast<int>(bit % 8)));
      }
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::string pngHeaderOnly(uint32_t width, uint32_t height) {
  const std::string ihdr = be32(width) + be32(height) + std::string("\x08\x02\0\0\0", 5);
  return std::string("\x89PNG\r\n\x1A\n", 8) + pngChunk("IHDR", ihdr) + pngChunk("IDAT", "") +
         pngChunk("IEND", "");
}

std::string cmykJpeg(const cv::Mat& rgb, bool adobe) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(rgb.cols);
  cinfo.image_height = static_cast<JDIMENSION>(rgb.rows);
  cinfo.input_components = 4;
  cinfo.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_colorspace(&cinfo, JCS_CMYK);
  jpeg_set_quality(&cinfo, 95, TRUE);
  cinfo.write_Adobe_marker = adobe ? TRUE : FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(rgb.cols) * 4);
  for (int y = 0; y < rgb.rows; ++y) {
    for (int x = 0; x < rgb.cols; ++x) {
      // No black ink; each colour's ink is its complement. Adobe stores ink inverted.
      const cv::Vec3b p = rgb.at<cv::Vec3b>(y, x);
      for (int c = 0; c < 3; ++c) row[4 * x + c] = adobe ? p[c] : uint8_t(255 - p[c]);
      row[4 * x + 3] = adobe ? 255 : 0;
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string out(reinterpret_cast<char*>(buffer), size);
  std::free(buffer);
  return out;
}

std::optional<std::string> encodeHeif(const cv::Mat& rgb, bool avif, int orientation,
                                      int thumbnailBox, int thumbnailOrientation) {
  const heif_compression_format format = avif ? heif_compression_AV1 : heif_compression_HEVC;
  if (!heif_have_encoder_for_format(format)) return std::nullopt;
  heif_context* ctx = heif_context_alloc();
  heif_encoder* encoder = nullptr;
  if (heif_context_get_encoder_for_format(ctx, format, &encoder).code != heif_error_Ok) {
    heif_context_free(ctx);
    return std::nullopt;
  }
  heif_encoder_set_lossy_quality(encoder, 90);
  heif_encoder_set_logging_level(encoder, 0);
  if (avif) heif_encoder_set_parameter_integer(encoder, "speed", 8);
  heif_image* image = nullptr;
  heif_image_create(rgb.cols, rgb.rows, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
  heif_image_add_plane(image, heif_channel_interleaved, rgb.cols, rgb.rows, 8);
  int stride = 0;
  uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
  for (int y = 0; y < rgb.rows; ++y) {
    std::memcpy(plane + static_cast<ptrdiff_t>(y) * stride, rgb.ptr(y),
                static_cast<size_t>(rgb.cols) * 3);
  }
  heif_encoding_options* options = heif_encoding_options_alloc();
  options->image_orientation = static_cast<heif_orientation>(orientation);
  heif_image_handle* handle = nullptr;
  heif_error err = heif_context_encode_image(ctx, image, encoder, options, &handle);
  if (err.code == heif_error_Ok && thumbnailBox > 0) {
    heif_image_handle* thumb = nullptr;
    if (thumbnailOrientation != 0) {
      options->image_orientation = static_cast<heif_orientation>(thumbnailOrientation);
    }
    err = heif_context_encode_thumbnail(ctx, image, handle, encoder, options, thumbnailBox, &thumb);
    heif_image_handle_release(thumb);
  }
  std::string out;
  heif_writer writer{};
  writer.writer_api_version = 1;
  writer.write = [](heif_context*, const void* data, size_t size, void* user) {
    static_cast<std::string*>(user)->append(static_cast<const char*>(data), size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, ""};
  };
  if (err.code == heif_error_Ok) err = heif_context_write(ctx, &writer, &out);
  heif_image_handle_release(handle);
  heif_encoding_options_free(options);
  heif_image_release(image);
  heif_encoder_release(encoder);
  heif_context_free(ctx);
  if (err.code != heif_error_Ok) throw std::runtime_error(std::string("heif: ") + err.message);
  return out;
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

}  // namespace velto::testing
