#pragma once
// How one "timeGroups" entry of a job file becomes a time-group number.

#include <cstdint>
#include <nlohmann/json.hpp>

namespace velto {

// The time-group number of one "timeGroups" entry: a number with its fraction dropped toward
// zero and saturated to the signed 64-bit range; true is 1; false, strings, null, arrays and
// objects are 0. Never fails.
int64_t timeGroupNumber(const nlohmann::json& entry);

// `value` truncated toward zero, saturated to the signed 64-bit range; NaN gives 0.
int64_t saturatingTruncate(double value);

}  // namespace velto
