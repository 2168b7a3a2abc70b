#include "image/codecs/png_decode.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

#include "image/exif_orientation.h"

namespace velto {

namespace {

struct Source {
  std::string_view bytes;
  size_t at = 0;
};

void readBytes(png_structp png, png_bytep out, size_t n) {
  auto* src = static_cast<Source*>(png_get_io_ptr(png));
  if (n > src->bytes.size() - src->at) png_error(png, "truncated");
  std::memcpy(out, src->bytes.data() + src->at, n);
  src->at += n;
}

// libpng requires its error handler not to return.
[[noreturn]] void onError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void onWarning(png_structp, png_const_charp) {}  // the default prints to stderr

class ReadGuard {
 public:
  ReadGuard(png_structp png, png_infop info) : png_(png), info_(info) {}
  ~ReadGuard() { png_destroy_read_struct(&png_, &info_, nullptr); }  // accepts nulls
  ReadGuard(const ReadGuard&) = delete;
  ReadGuard& operator=(const ReadGuard&) = delete;

 private:
  png_structp png_;
  png_infop info_;
};

// Everything libpng may longjmp out of. No object with a destructor lives in this frame:
// the pixels and row table belong to the caller.
void decodeInto(png_structp png, png_infop info, cv::Mat* pixels, std::vector<png_bytep>* rows) {
  png_read_info(png, info);
  const int colorType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (bitDepth == 16) png_set_swap(png);  // PNG stores big-endian; cv::Mat wants native
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const int depth = png_get_bit_depth(png, info) == 16 ? CV_16U : CV_8U;
  pixels->create(static_cast<int>(png_get_image_height(png, info)),
                 static_cast<int>(png_get_image_width(png, info)),
                 CV_MAKETYPE(depth, png_get_channels(png, info)));
  if (png_get_rowbytes(png, info) != pixels->step[0]) png_error(png, "unexpected row size");
  rows->resize(static_cast<size_t>(pixels->rows));
  for (int y = 0; y < pixels->rows; ++y) (*rows)[y] = pixels->ptr<png_byte>(y);
  png_read_image(png, rows->data());
  png_read_end(png, nullptr);
}

}  // namespace

std::optional<RawImage> decodePng(std::string_view bytes) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, onError, onWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  ReadGuard guard(png, info);
  if (png == nullptr || info == nullptr) return std::nullopt;
  RawImage out;
  std::vector<png_bytep> rows;
  Source source{bytes};
  png_set_read_fn(png, &source, readBytes);
  if (setjmp(png_jmpbuf(png)) != 0) return std::nullopt;
  decodeInto(png, info, &out.pixels, &rows);
  out.orientation = orientationInPng(bytes);
  return out;
}

}  // namespace velto
