#pragma once
// Reading the report page in tests: the start tags of one kind with their attributes, in page
// order. Enough for the page the report writes (double-quoted attributes), no HTML parser.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace velto::testing {

struct Tag {
  size_t offset = 0;                         // where the tag starts in the page
  std::map<std::string, std::string> attrs;  // values as written, entities not decoded
  bool hasClass(const std::string& name) const;
};

// Every start tag `<name ...>` whose class list contains `cls` (any such tag when `cls` is
// empty), in page order.
std::vector<Tag> findTags(const std::string& html, const std::string& name,
                          const std::string& cls = "");

// The group number of each tile (figure.tile), indexed by data-index; fails the current test
// when an index is missing or repeated.
std::vector<long long> tileGroups(const std::string& html);

// The groups array of a result file text {"groups":[...]}.
std::vector<long long> resultGroups(const std::string& json);

}  // namespace velto::testing
