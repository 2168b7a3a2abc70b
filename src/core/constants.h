#pragma once
// The tuning values of the grouping. They are compiled in on purpose: the tool reads no
// configuration, so two runs over the same job always use the same rules.

#include <bit>
#include <cstdint>

namespace velto {

inline constexpr int64_t WINDOW = 3;              // photo positions on each side of a gap
inline constexpr int64_t PEAK_RADIUS = 2;         // gaps on each side compared by isPeak
inline constexpr int64_t MIN_GROUP_SIZE = 2;      // least photos in each piece of a cut run
inline constexpr int64_t MIN_CUTS_FOR_STATS = 3;  // least time-group changes for a median

// Single-precision thresholds, spelled as bit patterns so that no decimal-to-float rounding
// question can arise.
inline constexpr float T_SPLIT_DEFAULT = std::bit_cast<float>(uint32_t{0x3F0A3D71});  // 0.54
inline constexpr float T_SPLIT_FLOOR = std::bit_cast<float>(uint32_t{0x3EE66666});    // 0.45
inline constexpr float T_SPLIT_CEIL = std::bit_cast<float>(uint32_t{0x3F1EB852});     // 0.62

}  // namespace velto
