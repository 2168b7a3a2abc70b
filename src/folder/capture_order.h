#pragma once
// From capture times to the photo order and time groups velto-fprint's grouping starts from.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "metadata/capture_time.h"

namespace velto {

// Default --gap: a new time group after ten minutes without a photo. In the developer photo
// set's 15 series with camera times no two consecutive frames lie more than 61 s apart, so a
// series keeps a tenfold margin, while moving on to another place or outing takes longer. A
// series wrongly split by time can never be joined again, but a time group that holds two
// scenes is still cut where they differ; and each time-group change gives the split threshold
// one more score between two different scenes.
inline constexpr double kDefaultGapSeconds = 600.0;

struct FolderPhoto {
  std::string path;
  std::optional<CaptureTime> time;  // nothing: undated
  int64_t timeGroup = 0;            // 1, 2, 3 ... by time; 0 for undated photos
};

// Orders `photos` by capture time, ties (sub-seconds included) by path, the undated ones last
// by path; then numbers the time groups: a new one wherever the time from the previous photo
// exceeds `gapSeconds`. Times are compared as instants (offset applied) when every dated
// photo records its offset, and as wall-clock times otherwise: a camera without offsets
// beside a phone with them would otherwise be shifted by the time zone.
void orderByCaptureTime(std::vector<FolderPhoto>* photos, double gapSeconds);

}  // namespace velto
