#include "cache/print_recipe.h"

#include <string>

#include "embedding/embedding_recipe.h"

namespace velto {

std::string currentPrintRecipe() {
  return "print recipe " + std::to_string(kPrintRecipe) + ", " + std::to_string(kPrintLength) +
         " floats";
}

}  // namespace velto
