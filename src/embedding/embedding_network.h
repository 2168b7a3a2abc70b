#pragma once
// The pretrained image network built into the program: a MobileNetV2 trunk up to the output of
// block 15 (160 channels on a 7 x 7 grid), averaged over the image.

#include <cstdint>
#include <memory>
#include <vector>

namespace cv {
class Mat;
}

namespace velto {

inline constexpr int64_t NETWORK_INPUT_SIDE = 224;
inline constexpr int64_t POOLED_FEATURES = 160;
// Beyond four threads the layers at 7 x 7 and 14 x 14 pixels are too small to share well.
inline constexpr int NETWORK_MAX_THREADS = 4;

class EmbeddingNetwork {
 public:
  // Loads the built-in network once; a run keeps one instance for all its photos. Each layer is
  // shared among `threads` threads (0: the processors this process may use, at most
  // NETWORK_MAX_THREADS); the result does not depend on the number.
  explicit EmbeddingNetwork(int threads = 0);
  ~EmbeddingNetwork();
  EmbeddingNetwork(const EmbeddingNetwork&) = delete;
  EmbeddingNetwork& operator=(const EmbeddingNetwork&) = delete;

  // True when the network loaded; a build whose model data is broken gives false.
  bool ready() const;

  // The POOLED_FEATURES averaged activations for `rgb`, a CV_32FC3 image of
  // NETWORK_INPUT_SIDE squared pixels, RGB order, values in [0, 1]. Empty on failure.
  std::vector<float> pooledFeatures(const cv::Mat& rgb);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velto
