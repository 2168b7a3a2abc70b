#include "prints/feature_prints.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>

namespace velto {

FeatureVector decodePrint(const FeaturePrint& print) {
  FeatureVector v;
  if (print.elementType == kElementFloat32) {
    v.resize(print.data.size() / sizeof(float));
    // memcpy from an empty buffer is undefined even for zero bytes.
    if (!v.empty()) std::memcpy(v.data(), print.data.data(), v.size() * sizeof(float));
  } else if (print.elementType == kElementFloat64) {
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

void analysePhotos(const std::vector<std::string>& photos, ImageAnalysis& analysis,
                   const std::function<bool(size_t, std::optional<FeaturePrint>)>& take) {
  const size_t n = photos.size();
  std::vector<std::optional<FeaturePrint>> prints(n);
  const std::unique_ptr<std::atomic<bool>[]> done(new std::atomic<bool>[n]());
  std::atomic<size_t> next{0};
  std::atomic<bool> stopped{false};
  // Analyses the next photo not yet started; false when there is none.
  const auto analyseNext = [&]() -> bool {
    if (stopped.load(std::memory_order_acquire)) return false;
    const size_t i = next.fetch_add(1, std::memory_order_relaxed);
    if (i >= n) return false;
    try {
      prints[i] = analysis.featurePrint(photos[i]);
    } catch (...) {
      prints[i].reset();
    }
    done[i].store(true, std::memory_order_release);
    done[i].notify_one();
    return true;
  };

  // Joins the helpers however this call ends, `take` throwing included.
  struct Helpers {
    std::atomic<bool>& stopped;
    std::vector<std::thread> threads;
    ~Helpers() {
      stopped.store(true, std::memory_order_release);
      for (auto& t : threads) t.join();
    }
  } helpers{stopped, {}};
  const size_t threads =
      std::min<size_t>(static_cast<size_t>(std::max(1, analysis.concurrency())), n);
  try {
    for (size_t t = 1; t < threads; ++t) {
      helpers.threads.emplace_back([&] {
        while (analyseNext()) {
        }
      });
    }
  } catch (const std::system_error&) {
    // Fewer threads than asked: the same prints, later.
  }

  // Hands over the prints in order; while the next one is still under way elsewhere, this
  // thread analyses a photo of its own, and once none is left it sleeps until the print comes.
  bool more = true;
  for (size_t i = 0; i < n;) {
    if (done[i].load(std::memory_order_acquire)) {
      if (!take(i, std::move(prints[i]))) break;
      prints[i].reset();
      ++i;
    } else if (more) {
      more = analyseNext();
    } else {
      done[i].wait(false, std::memory_order_acquire);
    }
  }
}

FeaturePrints extractFeaturePrints(const std::vector<std::string>& photos,
                                   ImageAnalysis& analysis) {
  FeaturePrints out;
  out.vectors.resize(photos.size());
  analysePhotos(photos, analysis, [&](size_t i, std::optional<FeaturePrint> print) {
    FeatureVector v = print ? decodePrint(*print) : FeatureVector{};
    if (v.empty()) return true;
    if (out.recipe < 0) {
      out.recipe = print->recipe;
      out.dims = static_cast<int64_t>(v.size());
    }
    if (print->recipe == out.recipe) out.vectors[i] = std::move(v);
    return true;
  });
  return out;
}

}  // namespace velto
