#include "app/rules.h"

namespace velto {

std::optional<Rules> parseRules(const std::string& name) {
  if (name == "platform") return Rules::kPlatform;
  if (name == "series") return Rules::kSeries;
  return std::nullopt;
}

std::string rulesName(Rules rules) { return rules == Rules::kSeries ? "series" : "platform"; }

}  // namespace velto
