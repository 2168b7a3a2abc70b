#include "image/codecs/jxl_decode.h"

#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>

#include <algorithm>
#include <memory>
#include <string>

#include "image/codecs/jpeg_decode.h"
#include "image/image_decode.h"
#include "image/image_header.h"
#include "io/quiet_output.h"

namespace velto {

namespace {

struct DecoderDestroy {
  void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};
struct RunnerDestroy {
  void operator()(void* r) const { JxlThreadParallelRunnerDestroy(r); }
};

// A reconstructed JPEG is about as large as the JPEG XL it came from (transcoding saves some
// 20 %); this bounds how far the buffer may grow for a hostile file.
constexpr size_t kJpegGrowthLimit = 4;

}  // namespace

std::optional<RawImage> decodeJxl(std::string_view bytes, int64_t minShortSide) {
  const OutputSilenced silenced;  // libjxl prints each failure
  const std::unique_ptr<JxlDecoder, DecoderDestroy> dec(JxlDecoderCreate(nullptr));
  // One worker per processor; the runner joins them when it goes, before this returns.
  const std::unique_ptr<void, RunnerDestroy> runner(
      JxlThreadParallelRunnerCreate(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads()));
  if (!dec || !runner) return std::nullopt;
  JxlDecoder* d = dec.get();
  if (JxlDecoderSetParallelRunner(d, JxlThreadParallelRunner, runner.get()) != JXL_DEC_SUCCESS ||
      JxlDecoderSubscribeEvents(d, JXL_DEC_BASIC_INFO | JXL_DEC_JPEG_RECONSTRUCTION |
                                       JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
      JxlDecoderSetInput(d, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) !=
          JXL_DEC_SUCCESS) {
    return std::nullopt;
  }
  JxlDecoderCloseInput(d);

  JxlBasicInfo info{};
  JxlPixelFormat format{3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  RawImage out;
  std::string jpeg;
  for (;;) {
    const JxlDecoderStatus status = JxlDecoderProcessInput(d);
    switch (status) {
      case JXL_DEC_BASIC_INFO: {
        // libjxl 0.7 holds the whole frame in floats whatever it is asked for (its 1:8 DC
        // preview is rendered at full size too): about 14 bytes and 30 ns a pixel.
        if (JxlDecoderGetBasicInfo(d, &info) != JXL_DEC_SUCCESS ||
            !paidForByBytes({info.xsize, info.ysize}, static_cast<int64_t>(bytes.size()))) {
          return std::nullopt;
        }
        format.num_channels = (info.num_color_channels == 1 ? 1 : 3) + (info.alpha_bits ? 1 : 0);
        break;
      }
      case JXL_DEC_JPEG_RECONSTRUCTION:
        jpeg.resize(std::max<size_t>(bytes.size() + (bytes.size() >> 1), 4096));
        if (JxlDecoderSetJPEGBuffer(d, reinterpret_cast<uint8_t*>(jpeg.data()), jpeg.size()) !=
            JXL_DEC_SUCCESS) {
          return std::nullopt;
        }
        break;
      case JXL_DEC_JPEG_NEED_MORE_OUTPUT: {
        const size_t used = jpeg.size() - JxlDecoderReleaseJPEGBuffer(d);
        if (jpeg.size() > kJpegGrowthLimit * bytes.size() + 4096) return std::nullopt;
        jpeg.resize(jpeg.size() * 2);
        if (JxlDecoderSetJPEGBuffer(d, reinterpret_cast<uint8_t*>(jpeg.data()) + used,
                                    jpeg.size() - used) != JXL_DEC_SUCCESS) {
          return std::nullopt;
        }
        break;
      }
      case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
        size_t size = 0;
        if (JxlDecoderImageOutBufferSize(d, &format, &size) != JXL_DEC_SUCCESS) return std::nullopt;
        // Turned sides when the orientation transposes.
        const bool transposed = info.orientation > JXL_ORIENT_ROTATE_180;
        const int64_t w = transposed ? info.ysize : info.xsize;
        const int64_t h = transposed ? info.xsize : info.ysize;
        out.pixels.create(static_cast<int>(h), static_cast<int>(w), CV_8UC(format.num_channels));
        if (size != out.pixels.total() * out.pixels.elemSize() ||
            JxlDecoderSetImageOutBuffer(d, &format, out.pixels.data, size) != JXL_DEC_SUCCESS) {
          return std::nullopt;
        }
        break;
      }
      case JXL_DEC_FULL_IMAGE:
        if (!jpeg.empty()) {
          jpeg.resize(jpeg.size() - JxlDecoderReleaseJPEGBuffer(d));
          return decodeJpeg(jpeg, minShortSide);
        }
        if (out.pixels.empty()) return std::nullopt;
        return out;  // the first frame; later ones are never decoded
      default:       // an error, data run out, or the end without a frame
        return std::nullopt;
    }
  }
}

}  // namespace velto
