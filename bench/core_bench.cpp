// The scoring and grouping core on large jobs: 100 000 photos of 1280-element prints (and
// 577, the built-in network's length), time groups of about 50 photos.
#include <benchmark/benchmark.h>

#include <random>

#include "core/grouping.h"

namespace {

struct Job {
  std::vector<int64_t> timeGroups;
  std::vector<velto::FeatureVector> vectors;
};

Job makeJob(int64_t n, int64_t dims) {
  Job job;
  std::mt19937 rng(1);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  velto::FeatureVector scene(dims);
  int64_t tg = 1;
  for (int64_t i = 0; i < n; ++i) {
    if (i % 5 == 0) {
      for (float& x : scene) x = noise(rng);
    }
    if (i % 50 == 0) ++tg;
    velto::FeatureVector v(dims);
    for (int64_t k = 0; k < dims; ++k) v[k] = scene[k] + 0.3f * noise(rng);
    job.vectors.push_back(std::move(v));
    job.timeGroups.push_back(i % 97 == 0 ? 0 : tg);
  }
  return job;
}

void BM_GroupPhotos(benchmark::State& state) {
  const Job job = makeJob(state.range(0), state.range(1));
  for (auto _ : state) {
    benchmark::DoNotOptimize(velto::groupPhotos(job.timeGroups, job.vectors, state.range(1)));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_GroupPhotos)
    ->Args({100000, 1280})
    ->Args({100000, 577})
    ->Args({1000000, 1280})
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
