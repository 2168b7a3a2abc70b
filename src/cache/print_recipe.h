#pragma once
// Which print recipe made a print: the prints cache serves only prints of the recipe this
// build computes.

#include <string>

namespace velto {

// A text that changes whenever the recipe's prints could change: its version, the print's
// length, its constants and a hash of its reference means. The one place that says so.
std::string currentPrintRecipe();

}  // namespace velto
