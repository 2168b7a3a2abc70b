#include "fprint/heif_decode.h"

#include <libheif/heif.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "fprint/image_header.h"

namespace velto {

namespace {

struct ContextFree {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleFree {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageFree {
  void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsFree {
  void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleFree>;
using Image = std::unique_ptr<heif_image, ImageFree>;

ImageSize displaySize(const heif_image_handle* h) {
  return {heif_image_handle_get_width(h), heif_image_handle_get_height(h)};
}

bool landscape(ImageSize s) { return s.width >= s.height; }

// The smallest thumbnail with a short side >= minShortSide, or nothing. A thumbnail that lies
// the other way than the primary image evidently lacks the primary's rotation, so it is not
// taken: the picture would come out turned.
Handle pickThumbnail(const heif_image_handle* primary, int64_t minShortSide) {
  const int count = heif_image_handle_get_number_of_thumbnails(primary);
  if (count <= 0) return nullptr;
  std::vector<heif_item_id> ids(static_cast<size_t>(count));
  const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
  const ImageSize primarySize = displaySize(primary);
  Handle best;
  for (int i = 0; i < listed; ++i) {
    heif_image_handle* raw = nullptr;
    if (heif_image_handle_get_thumbnail(primary, ids[i], &raw).code != heif_error_Ok) continue;
    Handle thumb(raw);
    const ImageSize size = displaySize(thumb.get());
    if (!acceptableSize(size) || landscape(size) != landscape(primarySize) ||
        std::min(size.width, size.height) < minShortSide) {
      continue;
    }
    if (!best || size.width < displaySize(best.get()).width) best = std::move(thumb);
  }
  return best;
}

std::optional<RawImage> decodeHandle(const heif_image_handle* handle) {
  const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
  std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
  if (!options) return std::nullopt;
  options->convert_hdr_to_8bit = 1;  // 10- and 12-bit images come as 8 bits per sample
  heif_image* raw = nullptr;
  const heif_error err = heif_decode_image(
      handle, &raw, heif_colorspace_RGB,
      alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
  Image image(raw);
  if (err.code != heif_error_Ok || !image) return std::nullopt;
  if (heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8) {
    return std::nullopt;
  }
  const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
  const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
  int stride = 0;
  const uint8_t* plane =
      heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
  if (plane == nullptr || !acceptableSize({width, height})) return std::nullopt;
  // A view of libheif's buffer, copied before the buffer is released.
  const cv::Mat view(height, width, alpha ? CV_8UC4 : CV_8UC3, const_cast<uint8_t*>(plane),
                     static_cast<size_t>(stride));
  RawImage out;
  out.pixels = view.clone();
  return out;
}

}  // namespace

std::optional<RawImage> decodeHeif(std::string_view bytes, int64_t minShortSide) {
  const Context ctx(heif_context_alloc());
  if (!ctx) return std::nullopt;
  if (heif_context_read_from_memory_without_copy(ctx.get(), bytes.data(), bytes.size(), nullptr)
          .code != heif_error_Ok) {
    return std::nullopt;
  }
  heif_image_handle* raw = nullptr;
  if (heif_context_get_primary_image_handle(ctx.get(), &raw).code != heif_error_Ok) {
    return std::nullopt;
  }
  const Handle primary(raw);
  // The stored size (ispe) is what gets decoded, whatever rotation follows.
  const ImageSize stored{heif_image_handle_get_ispe_width(primary.get()),
                         heif_image_handle_get_ispe_height(primary.get())};
  if (!acceptableSize(stored) || !acceptableSize(displaySize(primary.get()))) {
    return std::nullopt;
  }
  const Handle thumbnail = pickThumbnail(primary.get(), minShortSide);
  return decodeHandle(thumbnail ? thumbnail.get() : primary.get());
}

}  // namespace velto
