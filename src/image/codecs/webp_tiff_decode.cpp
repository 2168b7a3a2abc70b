#include "image/codecs/webp_tiff_decode.h"

#include <tiffio.h>
#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "image/exif_orientation.h"
#include "image/image_header.h"
#include "image/reduced_canvas.h"

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

// Whether the first extra sample is alpha, and whether colours are premultiplied by it.
bool extraSampleIsAlpha(TIFF* tif, bool* associated) {
  uint16_t extraCount = 0;
  const uint16_t* extraTypes = nullptr;
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
  if (extraCount == 0 || extraTypes == nullptr) return false;
  *associated = extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;
  return extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA;
}

// Floating-point samples, which libtiff's RGBA reader refuses: 32-bit grey or RGB (plus an
// alpha sample), in strips or tiles, interleaved or in planes. Values are taken as the same
// encoding as integer samples scaled to 0-1 (what image editors write); they are clamped to
// that range and kept at 16 bits.
std::optional<RawImage> decodeFloatTiff(TIFF* tif, uint32_t width, uint32_t height) {
  uint16_t bits = 0, samples = 0, planar = 0, photometric = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 1 || bits != 32) return std::nullopt;
  const int colour = photometric == PHOTOMETRIC_RGB          ? 3
                     : photometric == PHOTOMETRIC_MINISBLACK ? 1
                                                             : 0;
  if (colour == 0 || samples < colour || samples > 8) return std::nullopt;
  bool associated = false;
  const int channels = colour + (samples > colour && extraSampleIsAlpha(tif, &associated) ? 1 : 0);
  const bool separate = planar == PLANARCONFIG_SEPARATE;
  const int perPixel = separate ? 1 : samples;  // samples interleaved in one read buffer

  RawImage out;
  out.pixels.create(static_cast<int>(height), static_cast<int>(width), CV_16UC(channels));
  out.premultiplied = associated;
  // Copies `n` pixels of `plane` from a decoded run of floats into row y from column x.
  auto put = [&](const float* src, int plane, uint32_t y, uint32_t x, uint32_t n) {
    auto* dst = out.pixels.ptr<uint16_t>(static_cast<int>(y)) + int64_t{x} * channels;
    for (uint32_t i = 0; i < n; ++i, src += perPixel, dst += channels) {
      for (int c = 0; c < perPixel; ++c) {
        const int channel = separate ? plane : c;
        if (channel >= channels) continue;
        const float v = std::clamp(src[c], 0.0f, 1.0f);  // NaN compares false: becomes 0
        dst[channel] = static_cast<uint16_t>(std::isnan(src[c]) ? 0.0f : v * 65535.0f + 0.5f);
      }
    }
  };
  const int planes = separate ? samples : 1;
  if (TIFFIsTiled(tif)) {
    uint32_t tileW = 0, tileH = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileW);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileH);
    const tmsize_t tileBytes = TIFFTileSize(tif);
    if (tileW == 0 || tileH == 0 || tileBytes <= 0 || tileBytes > kMaxTiffAllocation ||
        tileBytes < tmsize_t{4} * tileW * tileH * perPixel) {
      return std::nullopt;
    }
    std::vector<float> tile(static_cast<size_t>(tileBytes) / 4);
    for (int p = 0; p < planes; ++p) {
      for (uint32_t y = 0; y < height; y += tileH) {
        for (uint32_t x = 0; x < width; x += tileW) {
          if (TIFFReadTile(tif, tile.data(), x, y, 0, static_cast<uint16_t>(p)) < 0) {
            return std::nullopt;
          }
          for (uint32_t row = 0; row < tileH && y + row < height; ++row) {
            put(tile.data() + int64_t{row} * tileW * perPixel, p, y + row, x,
                std::min(tileW, width - x));
          }
        }
      }
    }
  } else {
    const tmsize_t lineBytes = TIFFScanlineSize(tif);
    if (lineBytes < tmsize_t{4} * width * perPixel) return std::nullopt;
    std::vector<float> line(static_cast<size_t>(lineBytes) / 4 + 1);
    // Plane by plane, each from its first row: libtiff reads compressed strips onward only.
    for (int p = 0; p < planes; ++p) {
      for (uint32_t y = 0; y < height; ++y) {
        if (TIFFReadScanline(tif, line.data(), y, static_cast<uint16_t>(p)) != 1)
          return std::nullopt;
        put(line.data(), p, y, 0, width);
      }
    }
  }
  return out;
}

struct DemuxDelete {
  void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};

// Decodes a whole VP8/VP8L bitstream, scaled to width x height, as RGBA into `out`.
bool decodeScaledRgba(const uint8_t* data, size_t size, int width, int height, cv::Mat* out) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config) ||
      WebPGetFeatures(data, size, &config.input) != VP8_STATUS_OK) {
    return false;
  }
  if (width != config.input.width || height != config.input.height) {
    config.options.use_scaling = 1;
    config.options.scaled_width = width;
    config.options.scaled_height = height;
  }
  out->create(height, width, CV_8UC4);
  config.output.colorspace = MODE_RGBA;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = out->data;
  config.output.u.RGBA.stride = static_cast<int>(out->step[0]);
  config.output.u.RGBA.size = out->total() * out->elemSize();
  const VP8StatusCode status = WebPDecode(data, size, &config);
  WebPFreeDecBuffer(&config.output);  // external memory: frees nothing of ours
  return status == VP8_STATUS_OK;
}

// The first frame of an animation on its canvas, which starts transparent (as libwebp's own
// animation decoder has it, ignoring the background colour): the frame alone is decoded, scaled
// by the factor the canvas is reduced by, and drawn onto a reduced canvas. libwebp's animation
// decoder would allocate the canvas at full size, whatever the frame.
std::optional<RawImage> decodeFirstFrame(std::string_view bytes, int64_t minShortSide) {
  const WebPData data{reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()};
  const std::unique_ptr<WebPDemuxer, DemuxDelete> demux(WebPDemux(&data));
  if (!demux) return std::nullopt;
  const ImageSize size{WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH),
                       WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT)};
  WebPIterator frame;
  if (!acceptableSize(size) || !WebPDemuxGetFrame(demux.get(), 1, &frame)) return std::nullopt;
  ReducedCanvas canvas(size, reductionFactor(size, minShortSide));
  const int64_t f = canvas.factor();
  const int width = static_cast<int>(std::max<int64_t>(frame.width / f, 1));
  const int height = static_cast<int>(std::max<int64_t>(frame.height / f, 1));
  cv::Mat pixels;
  const bool decoded =
      decodeScaledRgba(frame.fragment.bytes, frame.fragment.size, width, height, &pixels);
  const int64_t x = frame.x_offset / f, y = frame.y_offset / f;
  WebPDemuxReleaseIterator(&frame);
  if (!decoded) return std::nullopt;
  canvas.addReduced(x, y, pixels.data, width, height);
  RawImage out = canvas.finish();
  out.orientation = orientationInWebp(bytes);
  return out;
}

}  // namespace

std::optional<RawImage> decodeWebp(std::string_view bytes, int64_t minShortSide) {
  const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config) ||
      WebPGetFeatures(data, bytes.size(), &config.input) != VP8_STATUS_OK ||
      !acceptableSize({config.input.width, config.input.height})) {
    return std::nullopt;
  }
  if (config.input.has_animation) return decodeFirstFrame(bytes, minShortSide);
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
  uint16_t sampleFormat = SAMPLEFORMAT_UINT;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  if (sampleFormat == SAMPLEFORMAT_IEEEFP) {
    std::optional<RawImage> floats = decodeFloatTiff(tif.get(), width, height);
    if (floats) floats->orientation = orientation;
    return floats;
  }
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
  bool associated = false;
  if (!extraSampleIsAlpha(tif.get(), &associated)) {
    cv::Mat rgb;
    cv::cvtColor(out.pixels, rgb, cv::COLOR_RGBA2RGB);
    out.pixels = rgb;
    out.premultiplied = false;
  }
  return out;
}

}  // namespace velto
