#include "job/result_file.h"

namespace velto {

std::string encodeGroups(const std::vector<int64_t>& groups) {
  std::string text = "{\"groups\":[";
  text.reserve(text.size() + groups.size() * 4 + 2);
  for (size_t i = 0; i < groups.size(); ++i) {
    if (i > 0) text += ',';
    text += std::to_string(groups[i]);
  }
  text += "]}";
  return text;
}

}  // namespace velto
