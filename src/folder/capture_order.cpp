#include "folder/capture_order.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace velto {
namespace {

constexpr int64_t kNanosPerSecond = 1000000000;

struct Instant {
  int64_t seconds = 0;
  int64_t nanoseconds = 0;  // 0 to 999999999
};

Instant instantOf(const CaptureTime& t, bool applyOffset) {
  return {t.localSeconds - (applyOffset ? t.offsetSeconds.value_or(0) : 0), t.nanoseconds};
}

}  // namespace

void orderByCaptureTime(std::vector<FolderPhoto>* photos, double gapSeconds) {
  const bool allHaveOffsets = std::all_of(photos->begin(), photos->end(), [](const FolderPhoto& p) {
    return !p.time || p.time->offsetSeconds.has_value();
  });
  const auto key = [&](const FolderPhoto& p) {
    const Instant at = p.time ? instantOf(*p.time, allHaveOffsets) : Instant();
    return std::make_tuple(!p.time.has_value(), at.seconds, at.nanoseconds, std::cref(p.path));
  };
  std::sort(photos->begin(), photos->end(),
            [&](const FolderPhoto& a, const FolderPhoto& b) { return key(a) < key(b); });

  // The gap as whole seconds and nanoseconds, so that the comparison is exact at any date.
  const double whole = std::floor(gapSeconds);
  Instant gap{static_cast<int64_t>(whole),
              static_cast<int64_t>(std::llround((gapSeconds - whole) * kNanosPerSecond))};
  if (gap.nanoseconds == kNanosPerSecond) gap = {gap.seconds + 1, 0};

  int64_t timeGroup = 0;
  std::optional<Instant> previous;
  for (FolderPhoto& p : *photos) {
    if (!p.time) continue;
    const Instant at = instantOf(*p.time, allHaveOffsets);
    if (previous) {
      Instant step{at.seconds - previous->seconds, at.nanoseconds - previous->nanoseconds};
      if (step.nanoseconds < 0) step = {step.seconds - 1, step.nanoseconds + kNanosPerSecond};
      if (std::tie(step.seconds, step.nanoseconds) > std::tie(gap.seconds, gap.nanoseconds)) {
        ++timeGroup;
      }
    } else {
      timeGroup = 1;
    }
    p.timeGroup = timeGroup;
    previous = at;
  }
}

}  // namespace velto
