#include "image/codecs/gif_decode.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "image/image_header.h"
#include "image/reduced_canvas.h"
#include "io/byte_reader.h"

namespace velto {

namespace {

struct MemoryInput {
  std::string_view bytes;
  size_t at = 0;
};

int readMemory(GifFileType* gif, GifByteType* out, int n) {
  auto* in = static_cast<MemoryInput*>(gif->UserData);
  const size_t count =
      std::min<size_t>(static_cast<size_t>(std::max(n, 0)), in->bytes.size() - in->at);
  std::memcpy(out, in->bytes.data() + in->at, count);
  in->at += count;
  return static_cast<int>(count);
}

struct GifClose {
  void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};

// Skips data sub-blocks (a length byte, that many bytes; a zero length ends them).
bool skipSubBlocks(const ByteReader& r, int64_t* at) {
  for (;;) {
    if (!r.has(*at, 1)) return false;
    const int64_t n = r.u8((*at)++);
    if (n == 0) return true;
    *at += n;
  }
}

// Whether the records from `at` on are whole up to the trailer. Walked here rather than by
// giflib, which keeps a record of every frame it passes: a hostile file of millions of tiny
// frames would cost gigabytes.
bool restIsIntact(const ByteReader& r, int64_t at) {
  while (r.has(at, 1)) {
    const int64_t kind = r.u8(at++);
    if (kind == 0x3B) return true;  // trailer
    if (kind == 0x21) {             // extension: label, then sub-blocks
      ++at;
    } else if (kind == 0x2C) {  // image: descriptor, local colour table, LZW code size
      const int64_t flags = r.u8(at + 8);
      at += 9;
      if ((flags & 0x80) != 0) at += 3 << ((flags & 7) + 1);
      ++at;
    } else {
      return false;
    }
    if (!skipSubBlocks(r, &at)) return false;
  }
  return false;
}

// The transparent colour index a Graphic Control Extension's data declares, or -1.
int transparentIndex(const GifByteType* ext) {
  if (ext == nullptr || ext[0] < 4) return -1;
  return (ext[1] & 1) != 0 ? ext[4] : -1;
}

}  // namespace

std::optional<RawImage> decodeGif(std::string_view bytes, int64_t minShortSide) {
  MemoryInput in{bytes};
  int error = 0;
  const std::unique_ptr<GifFileType, GifClose> gif(DGifOpen(&in, readMemory, &error));
  if (!gif || !acceptableSize({gif->SWidth, gif->SHeight})) return std::nullopt;
  int transparent = -1;
  GifRecordType record = UNDEFINED_RECORD_TYPE;
  do {
    if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) return std::nullopt;
    if (record == TERMINATE_RECORD_TYPE) return std::nullopt;  // no frame at all
    if (record != EXTENSION_RECORD_TYPE) continue;
    int code = 0;
    GifByteType* ext = nullptr;
    if (DGifGetExtension(gif.get(), &code, &ext) == GIF_ERROR) return std::nullopt;
    if (code == GRAPHICS_EXT_FUNC_CODE) transparent = transparentIndex(ext);
    while (ext != nullptr) {
      if (DGifGetExtensionNext(gif.get(), &ext) == GIF_ERROR) return std::nullopt;
    }
  } while (record != IMAGE_DESC_RECORD_TYPE);
  if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return std::nullopt;

  const GifImageDesc& frame = gif->Image;
  const ColorMapObject* colours = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
  if (colours == nullptr || !acceptableSize({frame.Width, frame.Height}) ||
      !paidForByBytes({frame.Width, frame.Height}, static_cast<int64_t>(bytes.size()))) {
    return std::nullopt;
  }
  // A frame that leaves part of the screen uncovered is drawn straight onto it at the scale
  // the caller needs, so a large screen around a small frame costs only the small canvas. One
  // that covers it (as in every photo) has paid for its pixels and is kept at full size, to be
  // shrunk afterwards like any picture.
  const int64_t screenW = gif->SWidth, screenH = gif->SHeight;
  const bool covers =
      frame.Left == 0 && frame.Top == 0 && frame.Width >= screenW && frame.Height >= screenH;
  ReducedCanvas canvas({screenW, screenH},
                       covers ? 1 : reductionFactor({screenW, screenH}, minShortSide));
  std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
  std::vector<uint8_t> rgba(static_cast<size_t>(frame.Width) * 4);
  // Interlaced rows arrive in four passes: every 8th from 0, every 8th from 4, every 4th from
  // 2, every 2nd from 1.
  static constexpr std::array<std::array<int, 2>, 4> kPasses = {{{0, 8}, {4, 8}, {2, 4}, {1, 2}}};
  const int passes = frame.Interlace ? 4 : 1;
  for (int p = 0; p < passes; ++p) {
    const int first = frame.Interlace ? kPasses[p][0] : 0;
    const int step = frame.Interlace ? kPasses[p][1] : 1;
    for (int64_t row = first; row < frame.Height; row += step) {
      if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) return std::nullopt;
      for (int64_t x = 0; x < frame.Width; ++x) {
        const int index = line[x];
        uint8_t* px = rgba.data() + x * 4;
        if (index == transparent || index >= colours->ColorCount) {
          px[0] = px[1] = px[2] = px[3] = 0;
          continue;
        }
        const GifColorType& c = colours->Colors[index];
        px[0] = c.Red;
        px[1] = c.Green;
        px[2] = c.Blue;
        px[3] = 255;
      }
      canvas.addRow(frame.Left, frame.Top + row, rgba.data(), frame.Width);
    }
  }
  // giflib has read the first frame's data up to its end; the rest is walked here.
  if (!restIsIntact(ByteReader(bytes, /*littleEndian=*/true), static_cast<int64_t>(in.at))) {
    return std::nullopt;
  }
  return canvas.finish();
}

}  // namespace velto
