#include "report_html_scan.h"

#include <gtest/gtest.h>

#include <sstream>

namespace velto::testing {

bool Tag::hasClass(const std::string& name) const {
  const auto it = attrs.find("class");
  if (it == attrs.end()) return false;
  std::istringstream words(it->second);
  std::string word;
  while (words >> word) {
    if (word == name) return true;
  }
  return false;
}

namespace {

// The name="value" pairs in the text of one start tag. No std::regex: GCC 12 reports false
// uninitialised reads inside it in the sanitizer build.
std::map<std::string, std::string> attributesOf(const std::string& tag) {
  std::map<std::string, std::string> attrs;
  for (size_t eq = tag.find("=\""); eq != std::string::npos; eq = tag.find("=\"", eq + 1)) {
    size_t start = eq;
    while (start > 0 && tag[start - 1] != ' ') --start;
    const size_t close = tag.find('"', eq + 2);
    if (close == std::string::npos) break;
    attrs[tag.substr(start, eq - start)] = tag.substr(eq + 2, close - eq - 2);
    eq = close;
  }
  return attrs;
}

}  // namespace

std::vector<Tag> findTags(const std::string& html, const std::string& name,
                          const std::string& cls) {
  std::vector<Tag> tags;
  const std::string open = "<" + name;
  for (size_t at = html.find(open); at != std::string::npos; at = html.find(open, at + 1)) {
    const char next = html[at + open.size()];
    if (next != ' ' && next != '>') continue;  // <figure> but not <figcaption>
    // The tag ends at the first '>' outside a quoted value (values hold no '"' of their own).
    size_t end = at;
    bool quoted = false;
    while (end < html.size() && (quoted || html[end] != '>')) quoted ^= html[end++] == '"';
    if (end == html.size()) break;
    Tag tag;
    tag.offset = at;
    tag.attrs = attributesOf(html.substr(at, end - at));
    if (cls.empty() || tag.hasClass(cls)) tags.push_back(tag);
  }
  return tags;
}

std::vector<long long> tileGroups(const std::string& html) {
  const std::vector<Tag> tiles = findTags(html, "figure", "tile");
  std::vector<long long> groups(tiles.size(), -1);
  for (const Tag& t : tiles) {
    const size_t i = std::stoul(t.attrs.at("data-index"));
    if (i >= groups.size() || groups[i] != -1) {
      ADD_FAILURE() << "tile index " << i << " out of range or repeated";
      continue;
    }
    groups[i] = std::stoll(t.attrs.at("data-group"));
  }
  return groups;
}

std::vector<long long> resultGroups(const std::string& json) {
  std::vector<long long> groups;
  const size_t open = json.find('[');
  const size_t close = json.find(']');
  if (open == std::string::npos || close == std::string::npos) return groups;
  std::istringstream in(json.substr(open + 1, close - open - 1));
  std::string item;
  while (std::getline(in, item, ',')) groups.push_back(std::stoll(item));
  return groups;
}

}  // namespace velto::testing
