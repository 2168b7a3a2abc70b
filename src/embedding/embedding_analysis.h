#pragma once
// The real image analysis: decode the photo, run the built-in network, make the print.

#include <optional>
#include <string>
#include <vector>

#include "embedding/embedding_network.h"
#include "embedding/embedding_recipe.h"
#include "prints/image_analysis.h"

namespace cv {
class Mat;
}

namespace velto {

// Images are decoded at a reduced scale with at least this short side before the whole frame
// is scaled to the network's input: enough detail for area averaging, far less decoding work.
inline constexpr int64_t kDecodeMinShortSide = 256;

// Feature prints from the built-in network: decode (format told by content, orientation
// applied), scale the whole frame to 224 x 224, printFeatures of that input, then
// printFromFeatures. Prints are 32-bit floats (type 1) of kPrintLength elements, recipe
// kPrintRecipe.
class EmbeddingAnalysis final : public ImageAnalysis {
 public:
  // `concurrency` as for EmbeddingNetwork: 0 analyses as many photos at once as there are
  // processors this process may use.
  explicit EmbeddingAnalysis(int concurrency = 0) : network_(concurrency) {}

  // Safe to call from up to concurrency() threads at once (more wait for each other).
  std::optional<FeaturePrint> featurePrint(const std::string& path) override;
  int concurrency() const override { return network_.concurrency(); }

  // What the print of the image file at `path` is made of, nothing when it cannot be decoded
  // or the network fails. For tools that study the embedding.
  std::optional<PrintFeatures> printFeatures(const std::string& path);

  bool ready() const { return network_.ready(); }

 private:
  EmbeddingNetwork network_;
};

// The network input for an 8-bit RGB image: the whole frame scaled to 224 x 224 by area
// averaging, as 32-bit floats in [0, 1].
cv::Mat networkInput(const cv::Mat& rgb8);

// What the print of a network input is made of: the network's activations of its
// luma-equalised copy, its colour layout and its gradient layout. Nothing when the network
// fails.
std::optional<PrintFeatures> printFeatures(const cv::Mat& input, EmbeddingNetwork& network);

}  // namespace velto
