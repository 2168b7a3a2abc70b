#include "image/codecs/raw_decode.h"

#include <libraw/libraw.h>

#include <algorithm>
#include <memory>

#include "image/codecs/jpeg_decode.h"
#include "io/quiet_output.h"
#include "image/image_header.h"

namespace velto {

namespace {

struct ProcessedFree {
  void operator()(libraw_processed_image_t* p) const { LibRaw::dcraw_clear_mem(p); }
};
using Processed = std::unique_ptr<libraw_processed_image_t, ProcessedFree>;

// LibRaw's own rotation code (dcraw's "flip") as an Exif orientation.
int64_t orientationFromFlip(int flip) {
  switch (flip) {
    case 1:
      return 2;
    case 2:
      return 4;
    case 3:
      return 3;
    case 4:
      return 5;
    case 5:
      return 8;
    case 6:
      return 6;
    case 7:
      return 7;
    default:
      return 1;
  }
}

// The 8-bit RGB bitmap LibRaw hands out, copied into our own pixels.
std::optional<RawImage> fromBitmap(const libraw_processed_image_t& image) {
  if (image.type != LIBRAW_IMAGE_BITMAP || image.colors != 3 || image.bits != 8 ||
      image.data_size < size_t{3} * image.width * image.height ||
      !acceptableSize({image.width, image.height})) {
    return std::nullopt;
  }
  RawImage out;
  cv::Mat(image.height, image.width, CV_8UC3, const_cast<unsigned char*>(image.data))
      .copyTo(out.pixels);
  return out;
}

// The unpacked preview, a JPEG or an 8-bit bitmap.
std::optional<RawImage> decodePreview(LibRaw* raw, int64_t minShortSide) {
  int error = 0;
  const Processed thumb(raw->dcraw_make_mem_thumb(&error));
  if (!thumb) return std::nullopt;
  if (thumb->type == LIBRAW_IMAGE_BITMAP) return fromBitmap(*thumb);
  const std::string_view jpeg(reinterpret_cast<const char*>(thumb->data), thumb->data_size);
  const std::optional<ImageSize> size = readDeclaredSize(jpeg, ImageFormat::kJpeg);
  if (!size || !acceptableSize(*size)) return std::nullopt;
  return decodeJpeg(jpeg, minShortSide);
}

std::optional<RawImage> developHalfSize(LibRaw* raw) {
  libraw_output_params_t& p = raw->imgdata.params;
  p.half_size = 1;
  p.use_camera_wb = 1;
  p.output_bps = 8;
  p.user_flip = 0;  // left as stored: the orientation is applied with everyone else's
  // The sensor's white level is white, and the sRGB curve: like the camera's own rendering,
  // rather than dcraw's habit of brightening until 1 % of the pixels clip.
  p.no_auto_bright = 1;
  p.gamm[0] = 1 / 2.4;
  p.gamm[1] = 12.92;
  if (raw->unpack() != LIBRAW_SUCCESS || raw->error_count() != 0 ||
      raw->dcraw_process() != LIBRAW_SUCCESS || raw->error_count() != 0) {
    return std::nullopt;
  }
  int error = 0;
  const Processed image(raw->dcraw_make_mem_image(&error));
  if (!image) return std::nullopt;
  return fromBitmap(*image);
}

}  // namespace

std::optional<RawImage> decodeCameraRaw(std::string_view bytes, int64_t minShortSide) {
  // LibRaw's decoders still hold some of dcraw's messages to stderr.
  const OutputSilenced silenced;
  // Without LibRaw's default error callbacks, which print; data errors are counted instead.
  const auto raw = std::make_unique<LibRaw>(LIBRAW_OPIONS_NO_MEMERR_CALLBACK |
                                            LIBRAW_OPIONS_NO_DATAERR_CALLBACK);
  if (raw->open_buffer(const_cast<char*>(bytes.data()), bytes.size()) != LIBRAW_SUCCESS) {
    return std::nullopt;
  }
  const libraw_image_sizes_t& sizes = raw->imgdata.sizes;
  if (!acceptableSize({sizes.raw_width, sizes.raw_height}) ||
      !acceptableSize({sizes.width, sizes.height})) {
    return std::nullopt;
  }
  // Read now: developing resets it.
  const int64_t orientation = orientationFromFlip(sizes.flip);
  const libraw_thumbnail_t& thumb = raw->imgdata.thumbnail;
  bool usePreview = std::min<int64_t>(thumb.twidth, thumb.theight) >= minShortSide &&
                    thumb.tlength > 0 && thumb.tlength <= bytes.size();
  if (usePreview) {
    // Its format is only known once it is unpacked; a damaged one means a damaged file.
    if (raw->unpack_thumb() != LIBRAW_SUCCESS || raw->error_count() != 0) return std::nullopt;
    usePreview = thumb.tformat == LIBRAW_THUMBNAIL_JPEG || thumb.tformat == LIBRAW_THUMBNAIL_BITMAP;
  }
  std::optional<RawImage> out =
      usePreview ? decodePreview(raw.get(), minShortSide) : developHalfSize(raw.get());
  // LibRaw gives a preview that lacks Exif data one saying the file's orientation; one that
  // has its own keeps it unless the raw file declares another.
  if (out && (orientation != 1 || !usePreview)) out->orientation = orientation;
  return out;
}

}  // namespace velto
