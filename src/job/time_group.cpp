#include "job/time_group.h"

#include <cmath>
#include <limits>

namespace velto {

int64_t saturatingTruncate(double value) {
  constexpr double kTwo63 = 9223372036854775808.0;  // 2^63, exact as a double
  if (std::isnan(value)) return 0;
  if (value >= kTwo63) return std::numeric_limits<int64_t>::max();
  if (value < -kTwo63) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(value);  // in range now, so the cast is defined
}

int64_t timeGroupNumber(const nlohmann::json& entry) {
  switch (entry.type()) {
    case nlohmann::json::value_t::number_integer:
      return entry.get<int64_t>();
    case nlohmann::json::value_t::number_unsigned: {
      const uint64_t u = entry.get<uint64_t>();
      constexpr auto kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
      return u > kMax ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(u);
    }
    case nlohmann::json::value_t::number_float:
      return saturatingTruncate(entry.get<double>());
    case nlohmann::json::value_t::boolean:
      return entry.get<bool>() ? 1 : 0;
    default:
      return 0;
  }
}

}  // namespace velto
