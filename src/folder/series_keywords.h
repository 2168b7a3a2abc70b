#pragma once
// The keyword that names a series in the photo managers: when it began and how many photos.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "folder/capture_order.h"

namespace velto {

// For every photo, the leaf of its series keyword, "2026-12-07 14-03 (5 photos)": the wall-clock
// minute of the series' first photo and its size; nothing for a photo in no group or in a group
// of one. Two series that would get the same leaf are told apart by " 2", " 3" ... after it.
// Requires groups.size() == photos.size(), groups as velto-fprint numbers them.
std::vector<std::optional<std::string>> seriesLeaves(const std::vector<FolderPhoto>& photos,
                                                     const std::vector<int64_t>& groups);

}  // namespace velto
