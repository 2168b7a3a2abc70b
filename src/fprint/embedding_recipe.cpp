#include "fprint/embedding_recipe.h"

#include "fprint/embedding_network.h"

namespace velto {

FeatureVector printFromPooled(const std::vector<float>& pooled) {
  FeatureVector centred(pooled.size());
  for (size_t k = 0; k < pooled.size(); ++k) centred[k] = pooled[k] - REFERENCE_MEAN[k];
  // Raw activations are all positive and every photo would look alike; centring on typical
  // photographs leaves what sets this photo apart.
  FeatureVector print = normalized(centred);
  print.push_back(PRINT_CONSTANT);
  return print;
}

}  // namespace velto
