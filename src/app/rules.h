#pragma once
// Which grouping a program applies: the fixed rules that velto-fprint keeps for its callers,
// or our own series grouping for people's folders.

#include <optional>
#include <string>

#include "app/command_line.h"

namespace velto {

enum class Rules {
  kPlatform,  // the fixed rules, exactly velto-fprint's
  kSeries,    // the series grouping (core/series.h)
};

// "platform" or "series" as given on a command line; nothing for any other text.
std::optional<Rules> parseRules(const std::string& name);

// The name parseRules takes back.
std::string rulesName(Rules rules);

// --rules platform|series for PROGRAM's option table, setting `*target` (its default stays as
// the caller set it, and the help says which it is).
CommandOption rulesOption(const std::string& program, std::string* target);

}  // namespace velto
