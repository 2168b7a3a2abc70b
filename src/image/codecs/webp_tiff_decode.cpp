#include "image/codecs/webp_tiff_decode.h"

#include <tiffio.h>
#include <webp/decode.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <opencv2/imgproc.hpp>

#include "image/exif_orientation.h"
#include "image/image_header.h"

namespace velto {

namespace {

// libtiff reads through these from the bytes in memory; the file is never written.
struct MemoryFile {
  std::string_view bytes;
  uint64_t at = 0;
};

tmsize_t readMemory(thandle_t handle, void* out, tmsize_t n) {
  auto* file = static_cast<MemoryFile*>(handle);
  if (n < 0 || file->at >= file->bytes.size()) return 0;
  const uint64_t count =
      std::min<uint64_t>(static_cast<uint64_t>(n), file->bytes.size() - file->at);
  std::memcpy(out, file->bytes.data() + file->at, count);
  file->at += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t) { return 0; }

toff_t seekMemory(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  // Offsets are unsigned; libtiff passes relative moves back as wrapped values.
  const uint64_t base = whence == SEEK_CUR ? file->at : whence == SEEK_END ? file->bytes.size() : 0;
  file->at = base + offset;
  return file->at;
}

int closeNothing(thandle_t) { return 0; }
toff_t memorySize(thandle_t handle) { return static_cast<MemoryFile*>(handle)->bytes.size(); }
int mapNothing(thandle_t, void**, toff_t*) { return 0; }
void unmapNothing(thandle_t, void*, toff_t) {}

// Handling a message here (returning 1) keeps it from libtiff's process-wide handlers, which
// print to stderr unless someone has replaced them.
int dropMessage(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffClose {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
struct OptionsFree {
  void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

// libtiff refuses single allocations beyond this; the largest legitimate one is the RGBA
// raster we allocate ourselves.
constexpr tmsize_t kMaxTiffAllocation = tmsize_t{1} << 30;

}  // namespace

std::optional<RawImage> decodeWebp(std::string_view bytes, int64_t minShortSide) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config) ||
      WebPGetFeatures(data, bytes.size(), &config.input) != VP8_STATUS_OK ||
      config.input.has_animation || !acceptableSize({config.input.width, config.input.height})) {
    return std::nullopt;
  }
  // libwebp scales while it decodes, so no full-size picture is ever stored: by the same whole
  // factor that reduceToShortSide would apply afterwards.
  int width = config.input.width, height = config.input.height;
  const int64_t factor = std::min(width, height) / std::max<int64_t>(minShortSide, 1);
  if (factor >= 2) {
    width = static_cast<int>(width / factor);
    height = static_cast<int>(height / factor);
    config.options.use_scaling = 1;
    config.options.scaled_width = width;
    config.options.scaled_height = height;
  }
  RawImage out;
  const bool alpha = config.input.has_alpha != 0;
  out.pixels.create(height, width, alpha ? CV_8UC4 : CV_8UC3);
  config.output.colorspace = alpha ? MODE_RGBA : MODE_RGB;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = out.pixels.data;
  config.output.u.RGBA.stride = static_cast<int>(out.pixels.step[0]);
  config.output.u.RGBA.size = out.pixels.total() * out.pixels.elemSize();
  const VP8StatusCode status = WebPDecode(data, bytes.size(), &config);
  WebPFreeDecBuffer(&config.output);  // external memory: frees nothing of ours
  if (status != VP8_STATUS_OK) return std::nullopt;
  out.orientation = orientationInWebp(bytes);
  return out;
}

std::optional<RawImage> decodeTiff(std::string_view bytes) {
  static_assert(std::endian::native == std::endian::little,
                "libtiff's RGBA raster is read as R, G, B, A bytes");
  MemoryFile file{bytes};
  const std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
  if (!options) return std::nullopt;
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), dropMessage, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), dropMessage, nullptr);
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxTiffAllocation);
  // "m": no memory mapping, all reads go through readMemory.
  const std::unique_ptr<TIFF, TiffClose> tif(
      TIFFClientOpenExt("image", "rm", &file, readMemory, writeNothing, seekMemory, closeNothing,
                        memorySize, mapNothing, unmapNothing, options.get()));
  if (!tif) return std::nullopt;
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t orientation = ORIENTATION_TOPLEFT;
  if (TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width) != 1 ||
      TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height) != 1 ||
      !acceptableSize({width, height})) {
    return std::nullopt;
  }
  // libtiff only ever keeps values 1-8 here.
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
  RawImage out;
  out.pixels.create(static_cast<int>(height), static_cast<int>(width), CV_8UC4);
  out.premultiplied = true;
  // Asking for the file's own orientation makes libtiff leave the rows as stored: it can
  // mirror but not turn, so applyOrientation does all of it.
  if (TIFFReadRGBAImageOriented(tif.get(), width, height, out.pixels.ptr<uint32_t>(), orientation,
                                /*stop_on_error=*/1) != 1) {
    return std::nullopt;
  }
  out.orientation = orientation;
  // A fourth sample is alpha only when ExtraSamples says so; libtiff hands on any other extra
  // sample as if it were alpha, but it is just data.
  uint16_t extraCount = 0;
  const uint16_t* extraTypes = nullptr;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
  const bool alpha =
      extraCount > 0 && extraTypes != nullptr &&
      (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA);
  if (!alpha) {
    cv::Mat rgb;
    cv::cvtColor(out.pixels, rgb, cv::COLOR_RGBA2RGB);
    out.pixels = rgb;
    out.premultiplied = false;
  }
  return out;
}

}  // namespace velto
