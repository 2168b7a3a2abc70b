#include "app/rules.h"

namespace velto {

std::optional<Rules> parseRules(const std::string& name) {
  if (name == "platform") return Rules::kPlatform;
  if (name == "series") return Rules::kSeries;
  return std::nullopt;
}

std::string rulesName(Rules rules) { return rules == Rules::kSeries ? "series" : "platform"; }

CommandOption rulesOption(const std::string& program, std::string* target) {
  const bool series = *target == "series";
  return choiceOption(program, "rules",
                      series ? std::vector<std::string>{"series", "platform"}
                             : std::vector<std::string>{"platform", "series"},
                      series ? "series: our own grouping (default); platform: velto-fprint's "
                               "fixed rules"
                             : "platform: velto-fprint's fixed rules (default); series: our own "
                               "grouping",
                      target);
}

}  // namespace velto
