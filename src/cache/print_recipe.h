#pragma once
// Which print recipe made a print: the prints cache serves only prints of the recipe this
// build computes.

#include <string>

namespace velto {

// The recipe's number (kPrintRecipe, raised with every change that moves a print's bits) and
// the print's length, as text: the one place that says which prints the cache may serve.
std::string currentPrintRecipe();

}  // namespace velto
