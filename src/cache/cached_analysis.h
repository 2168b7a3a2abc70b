#pragma once
// An image analysis that asks the prints cache first: a photo whose content and recipe are
// known gets its kept print; any other is analysed and its print kept.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "cache/prints_cache.h"
#include "prints/image_analysis.h"

namespace velto {

class CachedAnalysis final : public ImageAnalysis {
 public:
  // Asks `cache` (none: every photo is analysed) before `inner`; calls `done(fromCache)` after
  // every photo, from the thread that asked.
  CachedAnalysis(std::unique_ptr<ImageAnalysis> inner, PrintsCache* cache,
                 std::function<void(bool fromCache)> done = nullptr)
      : inner_(std::move(inner)), cache_(cache), done_(std::move(done)) {}

  // The file is read and hashed once; a print is kept only when the file still has the
  // identity it was hashed with after the analysis, so that a photo changed meanwhile is not
  // kept under the old content's hash.
  std::optional<FeaturePrint> featurePrint(const std::string& path) override;
  int concurrency() const override { return inner_->concurrency(); }

  int64_t fromCache() const { return fromCache_; }
  int64_t computed() const { return computed_; }

 private:
  std::unique_ptr<ImageAnalysis> inner_;
  PrintsCache* cache_;
  std::function<void(bool)> done_;
  std::atomic<int64_t> fromCache_ = 0;
  std::atomic<int64_t> computed_ = 0;
};

}  // namespace velto
