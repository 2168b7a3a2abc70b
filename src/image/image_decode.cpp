#include "image/image_decode.h"

#include <libheif/heif.h>
#include <tiffio.h>

#include <algorithm>
#include <mutex>
#include <opencv2/core/utils/logger.hpp>

#include "image/codecs/bmp_decode.h"
#include "image/codecs/gif_decode.h"
#include "image/codecs/heif_decode.h"
#include "image/codecs/jpeg_decode.h"
#include "image/codecs/jxl_decode.h"
#include "image/codecs/png_decode.h"
#include "image/codecs/raw_decode.h"
#include "image/codecs/webp_tiff_decode.h"
#include "image/image_header.h"
#include "image/pixel_ops.h"
#include "io/read_file.h"

namespace velto {

namespace {

void silenceLibrariesOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    // Our TIFF handles carry their own silent handlers; these cover messages that libtiff
    // sends to the process-wide ones all the same.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    heif_init(nullptr);  // reference counted; never undone, decoding may happen until exit
  });
}

// `*large` receives the lock of a large image, to be held until its pixels are finished.
std::optional<RawImage> decodeRaw(std::string_view bytes, int64_t minShortSide,
                                  std::unique_lock<std::mutex>* large) {
  const ImageFormat format = sniffFormat(bytes);
  if (format == ImageFormat::kUnknown) return std::nullopt;
  // TIFF and the raw formats built on it (ORF and RW2 only change its signature) are checked
  // to be whole first: their libraries read missing data as zeros.
  const bool tiffLike = bytes.substr(0, 2) == "II" || bytes.substr(0, 2) == "MM";
  if ((format == ImageFormat::kTiff || format == ImageFormat::kRaw) && tiffLike &&
      !tiffWithinFile(bytes)) {
    return std::nullopt;
  }
  // These check the size their libraries read before allocating.
  if (format == ImageFormat::kHeif) return decodeHeif(bytes, minShortSide);
  if (format == ImageFormat::kJxl) return decodeJxl(bytes, minShortSide);
  if (format == ImageFormat::kRaw) return decodeCameraRaw(bytes, minShortSide);
  const std::optional<ImageSize> declared = readDeclaredSize(bytes, format);
  if (!declared || !acceptableSize(*declared)) return std::nullopt;
  // Their libraries hold the whole picture; a GIF's screen and a WebP's canvas are drawn
  // reduced, and a WebP is scaled while it is decoded.
  const bool wholePicture =
      format == ImageFormat::kPng || format == ImageFormat::kTiff || format == ImageFormat::kBmp;
  if (wholePicture && !paidForByBytes(*declared, static_cast<int64_t>(bytes.size()))) {
    return std::nullopt;
  }
  *large = largeImageLock(*declared);
  switch (format) {
    case ImageFormat::kJpeg:
      return decodeJpeg(bytes, minShortSide);
    case ImageFormat::kPng:
      return decodePng(bytes);
    case ImageFormat::kWebp:
      return decodeWebp(bytes, minShortSide);
    case ImageFormat::kTiff:
      return decodeTiff(bytes);
    case ImageFormat::kBmp:
      return decodeBmp(bytes);
    case ImageFormat::kGif:
      return decodeGif(bytes, minShortSide);
    default:
      return std::nullopt;
  }
}

// Upright 8-bit RGB from what a decoder delivered, shrunk first so that turning has fewer
// pixels to move.
std::optional<cv::Mat> finish(std::optional<RawImage> raw, int64_t minShortSide) {
  if (!raw) return std::nullopt;
  std::optional<cv::Mat> rgb = toRgb8(*raw);
  raw->pixels.release();
  if (!rgb) return std::nullopt;
  return applyOrientation(reduceToShortSide(*rgb, minShortSide), raw->orientation);
}

}  // namespace

std::optional<cv::Mat> decodeImage(const std::string& path, int64_t minShortSide) {
  try {
    silenceLibrariesOnce();
    minShortSide = std::max<int64_t>(minShortSide, 1);
    std::string bytes;
    std::string err;
    if (!readRegularFile(path, kMaxImageFileBytes, &bytes, &err)) return std::nullopt;
    std::unique_lock<std::mutex> large;
    std::optional<RawImage> raw = decodeRaw(bytes, minShortSide, &large);
    bytes = std::string();  // free the encoded file before more pixel buffers come
    return finish(std::move(raw), minShortSide);
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<cv::Mat> decodeImageBytes(const std::string& bytes, int64_t minShortSide) {
  try {
    silenceLibrariesOnce();
    minShortSide = std::max<int64_t>(minShortSide, 1);
    if (static_cast<int64_t>(bytes.size()) > kMaxImageFileBytes) return std::nullopt;
    std::unique_lock<std::mutex> large;
    return finish(decodeRaw(bytes, minShortSide, &large), minShortSide);
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace velto
