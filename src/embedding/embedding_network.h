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

inline constexpr int64_t kNetworkInputSide = 224;
inline constexpr int64_t kPooledFeatures = 160;
// Photos analysed at once at most, one per thread, whatever the number of processors: each
// holds its decoded pixels and about 15 MB of activations.
inline constexpr int kPhotosInFlightMax = 8;

class EmbeddingNetwork {
 public:
  // Loads the built-in network once; a run keeps one instance for all its photos. Up to
  // `concurrency` threads may call pooledFeatures at once (0: the processors this process may
  // use, at most kPhotosInFlightMax), each pass running whole on its caller's thread; the
  // result does not depend on which pass runs where.
  explicit EmbeddingNetwork(int concurrency = 0);
  ~EmbeddingNetwork();
  EmbeddingNetwork(const EmbeddingNetwork&) = delete;
  EmbeddingNetwork& operator=(const EmbeddingNetwork&) = delete;

  // True when the network loaded; a build whose model data is broken gives false.
  bool ready() const;

  // How many calls of pooledFeatures run at once; more wait for a free workspace.
  int concurrency() const;

  // The kPooledFeatures averaged activations for `rgb`, a CV_32FC3 image of
  // kNetworkInputSide squared pixels, RGB order, values in [0, 1]. Empty on failure. Safe to
  // call from several threads.
  std::vector<float> pooledFeatures(const cv::Mat& rgb);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velto
