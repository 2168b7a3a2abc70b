#include "folder/series_keywords.h"

#include <map>
#include <set>

namespace velto {

std::vector<std::optional<std::string>> seriesLeaves(const std::vector<FolderPhoto>& photos,
                                                     const std::vector<int64_t>& groups) {
  std::map<int64_t, int64_t> sizes;
  for (const int64_t g : groups) {
    if (g > 0) ++sizes[g];
  }
  std::vector<std::optional<std::string>> leaves(photos.size());
  std::set<std::string> taken;
  std::string current;
  for (size_t i = 0; i < photos.size(); ++i) {
    const int64_t g = groups[i];
    if (g <= 0 || sizes[g] < 2 || !photos[i].time) continue;
    if (i == 0 || groups[i - 1] != g) {
      // "2026-12-07T14:03..." -> "2026-12-07 14-03": no colon, which some managers and file
      // systems treat specially.
      std::string minute = photos[i].time->text.substr(0, 16);
      minute[10] = ' ';
      minute[13] = '-';
      const std::string base = minute + " (" + std::to_string(sizes[g]) + " photos)";
      current = base;
      for (int64_t n = 2; !taken.insert(current).second; ++n) current = base + " " + std::to_string(n);
    }
    leaves[i] = current;
  }
  return leaves;
}

}  // namespace velto
