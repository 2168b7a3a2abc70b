#include "image/codecs/jpeg_decode.h"

// clang-format off
#include <csetjmp>
#include <cstdio>  // jpeglib.h uses FILE and size_t without including their headers
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <algorithm>
#include <cstdlib>

#include "image/exif_orientation.h"

namespace velto {

namespace {

// Real cameras and encoders write at most about twenty scans; each scan is a pass over the
// whole picture, so a file of hundreds of them buys minutes of work with a few bytes.
constexpr int kMaxScans = 100;
// libjpeg's own allocations, mostly the whole-picture coefficient buffers of progressive
// files (128 bytes a block, not shrunk by DCT scaling). With the program's own ~40 MiB a
// decode stays below 512 MiB; a progressive photo beyond about 150 megapixels (4:2:0; 75 at
// 4:4:4) is refused for it. Sequential files need no such buffers.
constexpr int64_t kMaxLibjpegMemory = int64_t{448} << 20;
// The work budget, in block visits: each scan visits every block of its components once.
// Coded data pays for its own decoding: the budget grows with the bytes read so far. A scan
// that covers a whole component in a few bytes (end-of-band runs) still costs some
// nanoseconds a block, and a row that the arithmetic decoder decodes after its data ran out
// up to half a microsecond a block, hence its weight. The free part covers the scans of any
// real photo; only scans that are almost empty exhaust it.
constexpr int64_t kFreeWork = int64_t{1} << 25;
constexpr int64_t kWorkPerCodedByte = 8;
constexpr int64_t kDataLessArithmeticWork = 32;
// Damaged coded data (the data ending early, a bad code, a lost restart marker) is tolerated
// only within the last 1/50 of the rows: some encoders leave the last row short by a few
// bits, while a file cut short and closed with an end marker would give a picture half grey.
constexpr int64_t kToleratedDamageShare = 50;
// Arithmetic-coded data may legally stop before the end of the picture where nothing but a
// flat area follows; the rows past that point must then come out flat to within this.
constexpr int kFlatTolerance = 8;

struct DecodeState {
  jpeg_error_mgr pub;  // first, so that libjpeg's pointer to it is a pointer to the whole
  std::jmp_buf jump;
  const JOCTET* start = nullptr;  // of the file, for the bytes read so far
  int64_t work = 0;
  int countedScan = 0;
  int64_t scanBlocks = 0;
  uint32_t componentsWithDc = 0;  // bit per component index
  int64_t flatFromRow = -1;       // first output row that must be flat, when known
};

DecodeState* stateOf(j_common_ptr cinfo) { return reinterpret_cast<DecodeState*>(cinfo->err); }

// libjpeg calls error_exit on fatal errors and expects it not to return.
[[noreturn]] void onFatalError(j_common_ptr cinfo) { std::longjmp(stateOf(cinfo)->jump, 1); }

// Whether more than the tolerated share of the current scan's rows is still to be decoded.
bool muchOfScanLeft(j_decompress_ptr cinfo) {
  const int64_t total = cinfo->total_iMCU_rows;
  return (total - static_cast<int64_t>(cinfo->input_iMCU_row)) * kToleratedDamageShare > total;
}

// Warnings (level -1) that mean lost or damaged coded data end the decode; all others are
// harmless and accepted: extraneous bytes before a marker (padding some cameras write),
// unknown JFIF or Adobe versions, odd scan parameters, an inconsistent progression, a bad ICC
// segment.
void onMessage(j_common_ptr common, int level) {
  if (level >= 0 || !common->is_decompressor) return;
  const auto cinfo = reinterpret_cast<j_decompress_ptr>(common);
  switch (common->err->msg_code) {
    case JWRN_JPEG_EOF:  // no end marker: the file was cut, however little is missing
      onFatalError(common);
    case JWRN_HIT_MARKER:  // premature end of the data segment
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_MUST_RESYNC:  // a restart marker lost
      if (muchOfScanLeft(cinfo)) onFatalError(common);
      break;
    default:
      break;
  }
}

void onOutputMessage(j_common_ptr) {}  // libjpeg would print to stderr

// Adds `work` and ends the decode when the budget of the bytes read so far is exceeded.
void charge(j_decompress_ptr cinfo, DecodeState* state, int64_t work) {
  state->work += work;
  const int64_t read = cinfo->src->next_input_byte - state->start;
  if (state->work > kFreeWork + kWorkPerCodedByte * read) {
    onFatalError(reinterpret_cast<j_common_ptr>(cinfo));
  }
}

// Counts a scan when it starts, before any of its data is decoded.
void startScan(j_decompress_ptr cinfo, DecodeState* state) {
  state->countedScan = cinfo->input_scan_number;
  if (state->countedScan > kMaxScans) onFatalError(reinterpret_cast<j_common_ptr>(cinfo));
  state->scanBlocks = 0;
  for (int i = 0; i < cinfo->comps_in_scan; ++i) {
    const jpeg_component_info* c = cinfo->cur_comp_info[i];
    state->scanBlocks += int64_t{c->width_in_blocks} * c->height_in_blocks;
    if (!cinfo->progressive_mode || cinfo->Ss == 0) {
      state->componentsWithDc |= 1u << c->component_index;
    }
  }
  charge(cinfo, state, state->scanBlocks);
}

// Called before each row of input is consumed (all scans of a progressive file are consumed
// in jpeg_start_decompress) and before each jpeg_read_scanlines.
void onProgress(j_common_ptr common) {
  if (!common->is_decompressor) return;
  const auto cinfo = reinterpret_cast<j_decompress_ptr>(common);
  DecodeState* state = stateOf(common);
  if (cinfo->input_scan_number != state->countedScan) startScan(cinfo, state);
  // The arithmetic decoder ran into a marker other than a restart marker inside a scan: the
  // rows still to come are decoded from no data at all. Legal where the picture ends in a flat
  // area, so when that happens before the last rows of a scan that codes the DC values, the
  // rest must come out flat.
  const int marker = cinfo->unread_marker;
  const int64_t total = cinfo->total_iMCU_rows;
  if (!cinfo->arith_code || marker == 0 || (marker >= JPEG_RST0 && marker <= JPEG_RST0 + 7) ||
      cinfo->input_iMCU_row >= total) {
    return;
  }
  charge(cinfo, state, state->scanBlocks * kDataLessArithmeticWork / total);
  if (state->flatFromRow < 0 && (!cinfo->progressive_mode || cinfo->Ss == 0) &&
      muchOfScanLeft(cinfo)) {
    const int64_t height = cinfo->output_height;
    state->flatFromRow = (height * (cinfo->input_iMCU_row + 1) + total - 1) / total;
  }
}

// Whether every sample of `row` lies within kFlatTolerance of `reference`.
bool flatRow(const uint8_t* row, const uint8_t* reference, int64_t width, int64_t channels) {
  for (int64_t i = 0; i < width * channels; ++i) {
    if (std::abs(int{row[i]} - int{reference[i % channels]}) > kFlatTolerance) return false;
  }
  return true;
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

// Whether the coded data after the headers can possibly fill the frame. A Huffman code is at
// least one bit long, so every block costs at least two bits in a sequential file (its DC
// difference and an end of block) and one in a progressive file (its DC difference in the
// first DC scan). Arithmetic coding has no such floor; the work budget bounds it instead.
bool codedDataCanFill(j_decompress_ptr cinfo, int64_t codedBytes) {
  if (cinfo->arith_code) return true;
  int64_t blocks = 0;
  for (int i = 0; i < cinfo->num_components; ++i) {
    blocks += int64_t{cinfo->comp_info[i].width_in_blocks} * cinfo->comp_info[i].height_in_blocks;
  }
  return codedBytes * 8 >= blocks * (cinfo->progressive_mode ? 1 : 2);
}

// Everything between setjmp and the end of decoding. libjpeg may longjmp out of any of its
// calls here, so this frame holds no object with a destructor: all state lives in `out`.
bool decodeInto(j_decompress_ptr cinfo, DecodeState* state, std::string_view bytes,
                int64_t minShortSide, RawImage* out, bool* cmyk, bool* adobe) {
  state->start = reinterpret_cast<const JOCTET*>(bytes.data());
  jpeg_mem_src(cinfo, state->start, static_cast<unsigned long>(bytes.size()));
  jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
  const int64_t codedBytes =
      static_cast<int64_t>(bytes.size()) - (cinfo->src->next_input_byte - state->start);
  if (!codedDataCanFill(cinfo, codedBytes)) return false;
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
  const uint8_t* flatReference = nullptr;
  while (cinfo->output_scanline < cinfo->output_height) {
    JSAMPROW rows[16];
    const JDIMENSION first = cinfo->output_scanline;
    const JDIMENSION count = std::min<JDIMENSION>(16, cinfo->output_height - first);
    for (JDIMENSION i = 0; i < count; ++i) {
      rows[i] = out->pixels.ptr<JSAMPLE>(static_cast<int>(first + i));
    }
    const JDIMENSION got = jpeg_read_scanlines(cinfo, rows, count);
    for (JDIMENSION i = 0; i < got; ++i) {
      if (state->flatFromRow < 0 || first + i < state->flatFromRow) continue;
      if (flatReference == nullptr) flatReference = rows[i];
      if (!flatRow(rows[i], flatReference, cinfo->output_width, cinfo->output_components)) {
        return false;  // not a flat end but a cut: what follows is decoded from nothing
      }
    }
  }
  // Reads on to the EOI marker, so that a file cut anywhere is noticed.
  jpeg_finish_decompress(cinfo);
  // A component whose DC values no scan coded would come out as flat grey.
  return state->componentsWithDc == (uint32_t{1} << cinfo->num_components) - 1;
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
  DecodeState state{};
  jpeg_progress_mgr progress{};
  cinfo.err = jpeg_std_error(&state.pub);
  state.pub.error_exit = onFatalError;
  state.pub.emit_message = onMessage;
  state.pub.output_message = onOutputMessage;
  progress.progress_monitor = onProgress;
  DecompressGuard guard(&cinfo);
  if (setjmp(state.jump) != 0) return std::nullopt;
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = static_cast<long>(kMaxLibjpegMemory);
  cinfo.progress = &progress;
  if (!decodeInto(&cinfo, &state, bytes, minShortSide, &out, &cmyk, &adobe)) return std::nullopt;
  if (cmyk) out.pixels = cmykToRgb(out.pixels, adobe);
  return out;
}

}  // namespace velto
