// velto-fprint-refmean <list.txt>: the mean pooled activations of the photos listed (one path
// a line), written as the C++ source of REFERENCE_MEAN on standard output. The mean is summed
// in double precision in list order and rounded once, so a rerun gives the same file.

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fprint/embedding_analysis.h"
#include "fprint/embedding_network.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velto-fprint-refmean <list.txt>\n");
    return 1;
  }
  std::ifstream list(argv[1]);
  std::vector<double> sum(velto::POOLED_FEATURES, 0.0);
  velto::EmbeddingAnalysis analysis;
  int64_t count = 0;
  for (std::string path; std::getline(list, path);) {
    if (path.empty()) continue;
    const auto pooled = analysis.pooledFeatures(path);
    if (!pooled) {
      std::fprintf(stderr, "velto-fprint-refmean: cannot analyse %s\n", path.c_str());
      return 1;
    }
    for (size_t k = 0; k < sum.size(); ++k) sum[k] += (*pooled)[k];
    ++count;
  }
  if (count == 0) {
    std::fprintf(stderr, "velto-fprint-refmean: no photos listed\n");
    return 1;
  }
  std::printf(
      "// Mean pooled activations of the %lld reference photographs listed in\n"
      "// tools/refmean/photos.txt, written by velto-fprint-refmean (see tools/refmean).\n"
      "#include \"fprint/embedding_recipe.h\"\n\nnamespace velto {\n\n"
      "const float REFERENCE_MEAN[576] = {\n",
      static_cast<long long>(count));
  for (size_t k = 0; k < sum.size(); ++k) {
    const auto mean = static_cast<float>(sum[k] / static_cast<double>(count));
    std::printf("%s%.9gf,%s", k % 6 == 0 ? "    " : " ", static_cast<double>(mean),
                k % 6 == 5 ? "\n" : "");
  }
  std::printf("};\n\n}  // namespace velto\n");
  return 0;
}
