#include "image/codecs/jpeg_decode.h"

// clang-format off
#include <csetjmp>
#include <cstdio>  // jpeglib.h uses FILE and size_t without including their headers
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>

#include "image/exif_orientation.h"

namespace velto {

namespace {

// A progressive JPEG may hold any number of scans, each one a pass over the whole image;
// real cameras and encoders use about ten, so a few hundred means a hostile file.
constexpr int kMaxScans = 500;
// Bounds libjpeg's own allocations (whole-image coefficient buffers for progressive files).
constexpr int64_t kMaxLibjpegMemory = int64_t{2} << 30;

struct ErrorManager {
  jpeg_error_mgr pub;  // first, so that libjpeg's pointer to it is a pointer to the whole
  std::jmp_buf jump;
  bool endedEarly = false;
};

// libjpeg calls error_exit on fatal errors and expects it not to return.
[[noreturn]] void onFatalError(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void onMessage(j_common_ptr cinfo, int level) {
  // Level -1 is a warning; the one that matters is the data running out, after which libjpeg
  // invents an EOI marker and fills the rest of the image with grey.
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) {
    reinterpret_cast<ErrorManager*>(cinfo->err)->endedEarly = true;
  }
}

void onOutputMessage(j_common_ptr) {}  // libjpeg would print to stderr

void onProgress(j_common_ptr cinfo) {
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
    onFatalError(cinfo);
  }
}

class DecompressGuard {
 public:
  explicit DecompressGuard(jpeg_decompress_struct* cinfo) : cinfo_(cinfo) {}
  ~DecompressGuard() { jpeg_destroy_decompress(cinfo_); }  // safe on a zeroed struct too
  DecompressGuard(const DecompressGuard&) = delete;
  DecompressGuard& operator=(const DecompressGuard&) = delete;

 private:
  jpeg_decompress_struct* cinfo_;
};

int64_t exifOrientation(j_decompress_ptr cinfo) {
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m != nullptr; m = m->next) {
    const std::string_view data(reinterpret_cast<const char*>(m->data), m->data_length);
    // APP1 also carries XMP; only the segment with the Exif prefix counts.
    if (m->marker == JPEG_APP0 + 1 && data.substr(0, 6) == std::string_view("Exif\0\0", 6)) {
      return orientationFromExif(data);
    }
  }
  return 1;
}

// Everything between setjmp and the end of decoding. libjpeg may longjmp out of any of its
// calls here, so this frame holds no object with a destructor: all state lives in `out`.
bool decodeInto(j_decompress_ptr cinfo, std::string_view bytes, int64_t minShortSide, RawImage* out,
                bool* cmyk, bool* adobe) {
  jpeg_mem_src(cinfo, reinterpret_cast<const unsigned char*>(bytes.data()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
  out->orientation = exifOrientation(cinfo);
  *cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  *adobe = cinfo->saw_Adobe_marker != 0;
  // libjpeg converts grey and YCbCr to RGB itself, but not CMYK.
  cinfo->out_color_space = *cmyk ? JCS_CMYK : JCS_RGB;
  cinfo->scale_denom = 8;
  for (unsigned n = 1; n <= 8; ++n) {
    cinfo->scale_num = n;
    jpeg_calc_output_dimensions(cinfo);
    if (std::min(cinfo->output_width, cinfo->output_height) >= minShortSide) break;
  }
  jpeg_start_decompress(cinfo);
  out->pixels.create(static_cast<int>(cinfo->output_height), static_cast<int>(cinfo->output_width),
                     CV_8UC(cinfo->output_components));
  while (cinfo->output_scanline < cinfo->output_height) {
    JSAMPROW rows[16];
    const JDIMENSION first = cinfo->output_scanline;
    const JDIMENSION count = std::min<JDIMENSION>(16, cinfo->output_height - first);
    for (JDIMENSION i = 0; i < count; ++i) {
      rows[i] = out->pixels.ptr<JSAMPLE>(static_cast<int>(first + i));
    }
    jpeg_read_scanlines(cinfo, rows, count);
  }
  // Reads on to the EOI marker, so that a file cut anywhere is noticed.
  jpeg_finish_decompress(cinfo);
  return true;
}

// Adobe applications store CMYK inverted (0 is full ink) and mark it with an APP14 segment.
cv::Mat cmykToRgb(const cv::Mat& cmyk, bool inverted) {
  cv::Mat rgb(cmyk.rows, cmyk.cols, CV_8UC3);
  for (int y = 0; y < cmyk.rows; ++y) {
    const uint8_t* src = cmyk.ptr<uint8_t>(y);
    uint8_t* dst = rgb.ptr<uint8_t>(y);
    for (int x = 0; x < cmyk.cols; ++x, src += 4, dst += 3) {
      const int64_t k = inverted ? src[3] : 255 - src[3];
      for (int c = 0; c < 3; ++c) {
        const int64_t ink = inverted ? src[c] : 255 - src[c];
        dst[c] = static_cast<uint8_t>((ink * k + 127) / 255);
      }
    }
  }
  return rgb;
}

}  // namespace

std::optional<RawImage> decodeJpeg(std::string_view bytes, int64_t minShortSide) {
  RawImage out;
  bool cmyk = false;
  bool adobe = false;
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  jpeg_progress_mgr progress{};
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = onFatalError;
  err.pub.emit_message = onMessage;
  err.pub.output_message = onOutputMessage;
  progress.progress_monitor = onProgress;
  DecompressGuard guard(&cinfo);
  if (setjmp(err.jump) != 0) return std::nullopt;
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = static_cast<long>(kMaxLibjpegMemory);
  cinfo.progress = &progress;
  if (!decodeInto(&cinfo, bytes, minShortSide, &out, &cmyk, &adobe) || err.endedEarly) {
    return std::nullopt;
  }
  if (cmyk) out.pixels = cmykToRgb(out.pixels, adobe);
  return out;
}

}  // namespace velto
