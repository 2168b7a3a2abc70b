#include "prints/feature_prints.h"

#include <cstring>

namespace velto {

FeatureVector decodePrint(const FeaturePrint& print) {
  FeatureVector v;
  if (print.elementType == ELEMENT_FLOAT32) {
    v.resize(print.data.size() / sizeof(float));
    // memcpy from an empty buffer is undefined even for zero bytes.
    if (!v.empty()) std::memcpy(v.data(), print.data.data(), v.size() * sizeof(float));
  } else if (print.elementType == ELEMENT_FLOAT64) {
    const size_t count = print.data.size() / sizeof(double);
    v.resize(count);
    for (size_t k = 0; k < count; ++k) {
      double x;
      std::memcpy(&x, print.data.data() + k * sizeof(double), sizeof x);
      v[k] = static_cast<float>(x);
    }
  }
  return v;
}

FeaturePrints extractFeaturePrints(const std::vector<std::string>& photos,
                                   ImageAnalysis& analysis) {
  FeaturePrints out;
  out.vectors.resize(photos.size());
  for (size_t i = 0; i < photos.size(); ++i) {
    const auto print = analysis.featurePrint(photos[i]);
    if (!print) continue;
    FeatureVector v = decodePrint(*print);
    if (v.empty()) continue;
    if (out.dims < 0) out.dims = static_cast<int64_t>(v.size());
    out.vectors[i] = std::move(v);
  }
  return out;
}

}  // namespace velto
