#include "image/codecs/heif_decode.h"

#include <libheif/heif.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "image/image_decode.h"
#include "image/image_header.h"
#include "io/byte_reader.h"
#include "io/quiet_output.h"

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

// An ISO media box: its type and where its payload lies.
struct Box {
  std::string_view type;
  int64_t payload = 0;  // offset of the first byte after the header
  int64_t end = 0;      // offset just past the box
};

// The boxes in [from, to) of `bytes`, in order; stops at the first malformed header.
std::vector<Box> childBoxes(std::string_view bytes, int64_t from, int64_t to) {
  const ByteReader r(bytes, /*littleEndian=*/false);
  std::vector<Box> out;
  int64_t at = from;
  while (at + 8 <= to) {
    int64_t size = r.u32(at);
    int64_t header = 8;
    if (size == 1) {                  // a 64-bit size follows the type
      if (r.u32(at + 8) != 0) break;  // 4 GiB or more: larger than any file read here
      size = r.u32(at + 12);
      header = 16;
    } else if (size == 0) {  // up to the end of the enclosing box
      size = to - at;
    }
    if (size < header || size > to - at) break;
    out.push_back({bytes.substr(static_cast<size_t>(at + 4), 4), at + header, at + size});
    at += size;
  }
  return out;
}

const Box* findBox(const std::vector<Box>& boxes, std::string_view type) {
  for (const Box& b : boxes) {
    if (b.type == type) return &b;
  }
  return nullptr;
}

// An unsigned field of `size` bytes (0, 4 or 8) at `at`; -1 for other sizes or values of
// 2^32 and more, which no file read here can hold.
int64_t sizedField(const ByteReader& r, int64_t at, int64_t size) {
  if (size == 0) return 0;
  if (size == 4) return r.u32(at);
  if (size == 8) return r.u32(at) == 0 ? r.u32(at + 4) : -1;
  return -1;
}

// Bits of a byte string, most significant first; reading past the end gives zeros and marks
// the reader as overrun.
class BitReader {
 public:
  explicit BitReader(std::string_view bytes) : bytes_(bytes) {}
  int64_t bits(int n) {
    int64_t v = 0;
    for (int i = 0; i < n; ++i, ++at_) {
      const size_t byte = at_ / 8;
      const int bit = byte < bytes_.size() ? (static_cast<uint8_t>(bytes_[byte]) >> (7 - at_ % 8)) & 1 : 0;
      v = v * 2 + bit;
    }
    return v;
  }
  bool overrun() const { return at_ > bytes_.size() * 8; }

 private:
  std::string_view bytes_;
  size_t at_ = 0;
};

// The largest frame an AV1 sequence header (the payload of its OBU) allows; nothing when the
// header cannot be read this far (timing and decoder-model information are not followed).
std::optional<ImageSize> av1MaxFrame(std::string_view header) {
  BitReader b(header);
  b.bits(4);  // profile, still picture
  if (b.bits(1) == 1) {  // reduced still-picture header
    b.bits(5);
  } else {
    if (b.bits(1) == 1) return std::nullopt;  // timing information
    const bool initialDisplayDelay = b.bits(1) == 1;
    const int64_t operatingPoints = b.bits(5) + 1;
    for (int64_t i = 0; i < operatingPoints; ++i) {
      b.bits(12);
      if (b.bits(5) > 7) b.bits(1);  // level, tier
      if (initialDisplayDelay && b.bits(1) == 1) b.bits(4);
    }
  }
  const int widthBits = static_cast<int>(b.bits(4)) + 1;
  const int heightBits = static_cast<int>(b.bits(4)) + 1;
  const int64_t width = b.bits(widthBits) + 1;
  const int64_t height = b.bits(heightBits) + 1;
  if (b.overrun()) return std::nullopt;
  return ImageSize{width, height};
}

// Whether the AV1 OBUs in [from, to) of `bytes` hold a sequence header that allows frames
// beyond the pixel limit. dav1d allocates what the header allows before it finds the frame
// data broken: a damaged 400-byte file cost seconds and gigabytes of allocation.
bool av1ClaimsTooLargeFrames(std::string_view bytes, int64_t from, int64_t to) {
  const ByteReader r(bytes, /*littleEndian=*/false);
  int64_t at = from;
  while (at < to && at < r.size()) {
    const int64_t header = r.u8(at);
    const int64_t type = (header >> 3) & 15;
    at += (header & 4) != 0 ? 2 : 1;  // the extension byte
    if ((header & 2) == 0) {
      // Without a size field the OBU runs to the end.
      const std::optional<ImageSize> frame =
          type == 1 && at < to ? av1MaxFrame(bytes.substr(at, to - at)) : std::nullopt;
      return frame && !acceptableSize(*frame);
    }
    int64_t size = 0;
    for (int i = 0; i < 8; ++i, ++at) {  // LEB128
      if (at >= to) return false;
      size |= (r.u8(at) & 127) << (7 * i);
      if ((r.u8(at) & 128) == 0) {
        ++at;
        break;
      }
    }
    if (size > to - at) return false;
    if (type == 1) {
      const std::optional<ImageSize> frame = av1MaxFrame(bytes.substr(at, size));
      return frame && !acceptableSize(*frame);
    }
    at += size;
  }
  return false;
}

// Whether the file has an AV1-coded item to which its item location box gives no coded
// bytes: no entry, no extent, or only extents of length 0. libheif hands such an item's empty
// payload to dav1d, which prints a complaint on standard error and leaks the buffer libheif
// allocated for it (libheif 1.15, dav1d 1.0); so such files are refused before libheif decodes
// anything. When the boxes cannot be read the answer is false; libheif then refuses the
// file itself. HEVC items are not affected: libde265 takes an empty payload quietly.
// Also true when an AV1 item's sequence header allows frames beyond the pixel limit.
bool hasAv1ItemWithoutData(std::string_view bytes) {
  const ByteReader r(bytes, /*littleEndian=*/false);
  const std::vector<Box> top = childBoxes(bytes, 0, r.size());
  const Box* meta = findBox(top, "meta");
  if (meta == nullptr) return false;
  const std::vector<Box> inMeta = childBoxes(bytes, meta->payload + 4, meta->end);  // full box
  const Box* iinf = findBox(inMeta, "iinf");
  const Box* iloc = findBox(inMeta, "iloc");
  if (iinf == nullptr || iloc == nullptr) return false;

  // Item types from the item information entries (versions 2 and 3 carry a type).
  std::set<int64_t> av1;
  const int64_t countSize = r.u8(iinf->payload) == 0 ? 2 : 4;
  for (const Box& infe : childBoxes(bytes, iinf->payload + 4 + countSize, iinf->end)) {
    if (infe.type != "infe") continue;
    const int64_t version = r.u8(infe.payload);
    if (version != 2 && version != 3) continue;
    const int64_t idSize = version == 2 ? 2 : 4;
    const int64_t id = idSize == 2 ? r.u16(infe.payload + 4) : r.u32(infe.payload + 4);
    const int64_t typeAt = infe.payload + 4 + idSize + 2;
    if (typeAt + 4 > infe.end) continue;
    if (bytes.substr(static_cast<size_t>(typeAt), 4) == "av01") av1.insert(id);
  }
  if (av1.empty()) return false;

  // Coded bytes per item from the location entries.
  const int64_t version = r.u8(iloc->payload);
  if (version > 2) return false;
  int64_t at = iloc->payload + 4;
  const int64_t offsetSize = r.u8(at) >> 4;
  const int64_t lengthSize = r.u8(at) & 15;
  const int64_t baseOffsetSize = r.u8(at + 1) >> 4;
  const int64_t indexSize = version == 0 ? 0 : r.u8(at + 1) & 15;
  for (const int64_t size : {offsetSize, lengthSize, baseOffsetSize, indexSize}) {
    if (size != 0 && size != 4 && size != 8) return true;  // no valid file has such fields
  }
  if (lengthSize == 0) return true;  // every extent is empty
  at += 2;
  const int64_t itemCount = version < 2 ? r.u16(at) : r.u32(at);
  at += version < 2 ? 2 : 4;
  std::set<int64_t> located;
  for (int64_t i = 0; i < itemCount; ++i) {
    if (at + 2 > iloc->end) return false;
    const int64_t id = version < 2 ? r.u16(at) : r.u32(at);
    at += version < 2 ? 2 : 4;
    const int64_t method = version > 0 ? r.u16(at) & 15 : 0;
    if (version > 0) at += 2;
    const int64_t baseOffset = sizedField(r, at + 2, baseOffsetSize);  // after the reference
    at += 2 + baseOffsetSize;
    const int64_t extentCount = r.u16(at);
    at += 2;
    int64_t codedBytes = 0;
    for (int64_t e = 0; e < extentCount; ++e) {
      const int64_t offset = sizedField(r, at + indexSize, offsetSize);
      const int64_t length = sizedField(r, at + indexSize + offsetSize, lengthSize);
      at += indexSize + offsetSize + lengthSize;
      if (length < 0) return true;  // 4 GiB or more, in a file of at most 512 MiB
      if (at > iloc->end) return false;
      codedBytes += length;
      // Extents in the file itself: the first one holds the sequence header.
      if (e == 0 && method == 0 && av1.count(id) > 0 && baseOffset >= 0 && offset >= 0 &&
          av1ClaimsTooLargeFrames(bytes, baseOffset + offset, baseOffset + offset + length)) {
        return true;
      }
    }
    if (codedBytes > 0) located.insert(id);
  }
  for (const int64_t id : av1) {
    if (located.count(id) == 0) return true;
  }
  return false;
}

// The orientation properties (irot, imir) associated with each item in its ipma entry, in
// their order, each as its type and its one meaningful byte; items without them are absent.
// Nothing when the property boxes cannot be read.
std::optional<std::map<int64_t, std::string>> itemOrientations(std::string_view bytes) {
  const ByteReader r(bytes, /*littleEndian=*/false);
  const std::vector<Box> top = childBoxes(bytes, 0, r.size());
  const Box* meta = findBox(top, "meta");
  if (meta == nullptr) return std::nullopt;
  const std::vector<Box> inMeta = childBoxes(bytes, meta->payload + 4, meta->end);  // full box
  std::map<int64_t, std::string> out;
  const Box* iprp = findBox(inMeta, "iprp");
  if (iprp == nullptr) return out;
  const std::vector<Box> inIprp = childBoxes(bytes, iprp->payload, iprp->end);
  const Box* ipco = findBox(inIprp, "ipco");
  if (ipco == nullptr) return std::nullopt;
  const std::vector<Box> properties = childBoxes(bytes, ipco->payload, ipco->end);
  for (const Box& ipma : inIprp) {
    if (ipma.type != "ipma") continue;
    const int64_t idSize = r.u8(ipma.payload) < 1 ? 2 : 4;
    const int64_t indexSize = (r.u8(ipma.payload + 3) & 1) != 0 ? 2 : 1;
    const int64_t entries = r.u32(ipma.payload + 4);
    int64_t at = ipma.payload + 8;
    // Each entry takes at least three bytes, so the bounds check ends any count.
    for (int64_t e = 0; e < entries; ++e) {
      if (at + idSize + 1 > ipma.end) return std::nullopt;
      const int64_t id = idSize == 2 ? r.u16(at) : r.u32(at);
      const int64_t associations = r.u8(at + idSize);
      at += idSize + 1;
      if (at + associations * indexSize > ipma.end) return std::nullopt;
      for (int64_t a = 0; a < associations; ++a, at += indexSize) {
        const int64_t index = indexSize == 2 ? r.u16(at) & 0x7FFF : r.u8(at) & 0x7F;
        if (index == 0) continue;  // no property
        if (index > static_cast<int64_t>(properties.size())) return std::nullopt;
        const Box& p = properties[static_cast<size_t>(index - 1)];
        if (p.type != "irot" && p.type != "imir") continue;
        if (p.payload >= p.end) return std::nullopt;
        out[id] +=
            std::string(p.type) + static_cast<char>(r.u8(p.payload) & (p.type == "irot" ? 3 : 1));
      }
    }
  }
  return out;
}

// The smallest thumbnail with a short side >= minShortSide whose rotation and mirroring are
// those of the primary image, or nothing. libheif turns each image by its own properties, and
// writers differ: some give the thumbnail the primary's, some leave it unturned while the
// primary is turned. A thumbnail turned otherwise than the primary would come out turned, so
// it is not taken, nor any when the properties cannot be read.
Handle pickThumbnail(std::string_view bytes, const heif_image_handle* primary,
                     heif_item_id primaryId, int64_t minShortSide) {
  const int count = heif_image_handle_get_number_of_thumbnails(primary);
  if (count <= 0) return nullptr;
  const std::optional<std::map<int64_t, std::string>> orientations = itemOrientations(bytes);
  if (!orientations) return nullptr;
  const auto orientationOf = [&](heif_item_id id) {
    const auto found = orientations->find(id);
    return found == orientations->end() ? std::string() : found->second;
  };
  std::vector<heif_item_id> ids(static_cast<size_t>(count));
  const int listed = heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
  const ImageSize primarySize = displaySize(primary);
  Handle best;
  for (int i = 0; i < listed; ++i) {
    heif_image_handle* raw = nullptr;
    if (heif_image_handle_get_thumbnail(primary, ids[i], &raw).code != heif_error_Ok) continue;
    Handle thumb(raw);
    const ImageSize size = displaySize(thumb.get());
    if (!acceptableSize(size) || orientationOf(ids[i]) != orientationOf(primaryId) ||
        landscape(size) != landscape(primarySize) ||
        std::min(size.width, size.height) < minShortSide) {
      continue;
    }
    if (!best || size.width < displaySize(best.get()).width) best = std::move(thumb);
  }
  return best;
}

// libde265 reads picture memory it never wrote when a stream is damaged, so the same file
// could give another print in another run, depending on what the heap held before. From the
// first HEVC-coded HEIF on (its items carry an hvcC property), every fresh heap block is filled
// with one fixed byte: such reads then always see the same values. Costs a fill of each
// allocation, paid only by runs that meet such a file; not for AV1, whose decoder (dav1d) may
// allocate frames of the size a damaged header claims and needs no such help.
void fillFreshHeapMemory() {
  static const bool once = [] {
    ::mallopt(M_PERTURB, 0x5A);
    return true;
  }();
  (void)once;
}

}  // namespace

std::optional<RawImage> decodeHeif(std::string_view bytes, int64_t minShortSide) {
  if (hasAv1ItemWithoutData(bytes)) return std::nullopt;
  if (bytes.find("hvcC") != std::string_view::npos) fillFreshHeapMemory();
  const OutputSilenced silenced;
  const Context ctx(heif_context_alloc());
  if (!ctx) return std::nullopt;
  if (heif_context_read_from_memory_without_copy(ctx.get(), bytes.data(), bytes.size(), nullptr)
          .code != heif_error_Ok) {
    return std::nullopt;
  }
  heif_item_id primaryId = 0;
  heif_image_handle* raw = nullptr;
  if (heif_context_get_primary_image_ID(ctx.get(), &primaryId).code != heif_error_Ok ||
      heif_context_get_image_handle(ctx.get(), primaryId, &raw).code != heif_error_Ok) {
    return std::nullopt;
  }
  const Handle primary(raw);
  // The stored size (ispe) is what gets decoded, whatever rotation follows.
  const ImageSize stored{heif_image_handle_get_ispe_width(primary.get()),
                         heif_image_handle_get_ispe_height(primary.get())};
  if (!acceptableSize(stored) || !acceptableSize(displaySize(primary.get()))) {
    return std::nullopt;
  }
  // Cameras store 320 x 240 thumbnails: as large as the network's input, and decoding one takes
  // a few milliseconds where the 12-megapixel picture takes a second, so such a thumbnail is
  // taken even when it falls short of minShortSide.
  const Handle thumbnail = pickThumbnail(bytes, primary.get(), primaryId,
                                         std::min(minShortSide, kHeifThumbnailMinShortSide));
  if (thumbnail) return decodeHandle(thumbnail.get());
  const std::unique_lock large = largeImageLock(stored);
  return decodeHandle(primary.get());
}

}  // namespace velto
