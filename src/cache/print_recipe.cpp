#include "cache/print_recipe.h"

#include <string>

#include "cache/file_fingerprint.h"
#include "embedding/embedding_analysis.h"
#include "embedding/embedding_recipe.h"

namespace velto {
namespace {

// Raised by hand for a change of the recipe that the values below do not show (the network,
// the decoding, the scaling).
constexpr int kRecipeVersion = 1;

}  // namespace

std::string currentPrintRecipe() {
  const uint64_t means =
      hashBytes(kReferenceMean, sizeof(float) * static_cast<size_t>(kPooledFeatures)) ^
      (hashBytes(kReferenceColourMean, sizeof(float) * static_cast<size_t>(kColourFeatures)) * 3);
  return "print " + std::to_string(kRecipeVersion) + ", " + std::to_string(kPrintLength) +
         " floats, input " + std::to_string(kNetworkInputSide) + ", decode " +
         std::to_string(kDecodeMinShortSide) + ", colour " + std::to_string(kColourBins) + " x " +
         std::to_string(kColourWeight) + ", constant " + std::to_string(kPrintConstant) +
         ", means " + std::to_string(means);
}

}  // namespace velto
