// velto-study-pooled <input.json> <out.f32>: the network's pooled activations of every photo of
// a job, as raw little-endian float32 rows of POOLED_FEATURES values (a row of NaN where a photo
// cannot be decoded). For studying the embedding recipe offline without running the network
// again.

#include <cmath>
#include <cstdio>
#include <vector>

#include "embedding/embedding_analysis.h"
#include "job/job_file.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: velto-study-pooled <input.json> <out.f32>\n");
    return 1;
  }
  const velto::JobReadResult read = velto::readJob(argv[1]);
  if (read.fault != velto::JobFault::kNone) {
    std::fprintf(stderr, "velto-study-pooled: bad job %s\n", argv[1]);
    return 1;
  }
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out) return 1;
  velto::EmbeddingAnalysis analysis;
  for (const auto& photo : read.job.photos) {
    auto pooled = analysis.pooledFeatures(photo);
    std::vector<float> row =
        pooled ? *pooled : std::vector<float>(velto::POOLED_FEATURES, std::nanf(""));
    std::fwrite(row.data(), sizeof(float), row.size(), out);
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
