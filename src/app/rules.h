#pragma once
// Which grouping a program applies: the fixed rules that velto-fprint keeps for its callers,
// or our own series grouping for people's folders.

#include <optional>
#include <string>

namespace velto {

enum class Rules {
  kPlatform,  // the fixed rules, exactly velto-fprint's
  kSeries,    // the series grouping (core/series.h)
};

// "platform" or "series" as given on a command line; nothing for any other text.
std::optional<Rules> parseRules(const std::string& name);

// The name parseRules takes back.
std::string rulesName(Rules rules);

}  // namespace velto
