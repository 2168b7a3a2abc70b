// velto-fprint-refmean <list.txt>: the means over the photos listed (one path a line) of the three
// components of the print, written as the C++ source of kReferenceMean (pooled activations of
// the luma-equalised input), kReferenceColourMean (square roots of the colour layout) and
// kReferenceGradientMean (square roots of the gradient layout) on standard output. The means are
// summed in double precision in list order and rounded once, so a rerun gives the same file.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "embedding/embedding_analysis.h"
#include "embedding/embedding_network.h"
#include "embedding/embedding_recipe.h"

namespace {

void printArray(const char* name, const std::vector<double>& sum, int64_t count) {
  std::printf("const float %s[%zu] = {\n", name, sum.size());
  for (size_t k = 0; k < sum.size(); ++k) {
    const auto mean = static_cast<float>(sum[k] / static_cast<double>(count));
    // A colour no reference photo has gives 0, which needs a point to take the f suffix.
    char literal[32];
    std::snprintf(literal, sizeof literal, "%.9g", static_cast<double>(mean));
    std::printf("%s%s%sf,%s", k % 6 == 0 ? "    " : " ", literal,
                std::strpbrk(literal, ".en") ? "" : ".0",
                k % 6 == 5 || k + 1 == sum.size() ? "\n" : "");
  }
  std::printf("};\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velto-fprint-refmean <list.txt>\n");
    return 1;
  }
  std::ifstream list(argv[1]);
  std::vector<double> sum(velto::kPooledFeatures, 0.0);
  std::vector<double> colourSum(velto::kColourFeatures, 0.0);
  std::vector<double> gradientSum(velto::kGradientFeatures, 0.0);
  velto::EmbeddingAnalysis analysis;
  int64_t count = 0;
  for (std::string path; std::getline(list, path);) {
    if (path.empty()) continue;
    const auto features = analysis.printFeatures(path);
    if (!features) {
      std::fprintf(stderr, "velto-fprint-refmean: cannot analyse %s\n", path.c_str());
      return 1;
    }
    for (size_t k = 0; k < sum.size(); ++k) sum[k] += features->pooled[k];
    // The recipe compares square roots of the layouts, so their means are wanted.
    for (size_t k = 0; k < colourSum.size(); ++k) colourSum[k] += std::sqrt(features->colour[k]);
    for (size_t k = 0; k < gradientSum.size(); ++k) {
      gradientSum[k] += std::sqrt(features->gradient[k]);
    }
    ++count;
  }
  if (count == 0) {
    std::fprintf(stderr, "velto-fprint-refmean: no photos listed\n");
    return 1;
  }
  std::printf(
      "// Means over the %lld reference photographs listed in tools/refmean/photos.txt, written\n"
      "// by velto-fprint-refmean (see tools/refmean): the pooled activations of the\n"
      "// luma-equalised input, and the square roots of the colour and the gradient layout.\n"
      "#include \"embedding/embedding_recipe.h\"\n\nnamespace velto {\n\n",
      static_cast<long long>(count));
  printArray("kReferenceMean", sum, count);
  std::printf("\n");
  printArray("kReferenceColourMean", colourSum, count);
  std::printf("\n");
  printArray("kReferenceGradientMean", gradientSum, count);
  std::printf("\n}  // namespace velto\n");
  return 0;
}
