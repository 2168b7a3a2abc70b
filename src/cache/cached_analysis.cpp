#include "cache/cached_analysis.h"

namespace velto {

std::optional<FeaturePrint> CachedAnalysis::featurePrint(const std::string& path) {
  const std::optional<FileFingerprint> file =
      cache_ != nullptr ? fingerprintFile(path) : std::nullopt;
  if (file) {
    std::optional<FeaturePrint> kept = cache_->find(*file);
    if (kept) {
      ++fromCache_;
      if (done_) done_(true);
      return kept;
    }
  }
  std::optional<FeaturePrint> print = inner_->featurePrint(path);
  ++computed_;
  // Photos without a print are not kept: they are few, and cheap to try again.
  if (file && print && identityOf(path) == file->identity) cache_->store(*file, *print);
  if (done_) done_(false);
  return print;
}

}  // namespace velto
