#include "metadata/xmp_limits.h"

#include <vector>

namespace velto {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view localName(std::string_view name) {
  const size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

}  // namespace

bool xmpWithinLimits(std::string_view xml) {
  struct Open {
    bool description;
    int64_t properties;
  };
  std::vector<Open> open;
  int64_t descriptionProperties = 0;
  int64_t namespaces = 0;
  // Counts one property of the innermost open element; false past the limit.
  const auto count = [&](bool ofDescription, int64_t* own) {
    return ++*(ofDescription ? &descriptionProperties : own) <= kMaxXmpSiblings;
  };
  size_t at = 0;
  while ((at = xml.find('<', at)) != std::string_view::npos) {
    const std::string_view rest = xml.substr(at);
    // Comments, CDATA, processing instructions and declarations hold no properties.
    for (const auto& [begin, end] :
         {std::pair{"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}, {"<!", ">"}}) {
      if (rest.substr(0, std::string_view(begin).size()) == begin) {
        const size_t close = xml.find(end, at);
        at = close == std::string_view::npos ? xml.size() : close;
        break;
      }
    }
    if (at >= xml.size() || xml[at] != '<') continue;
    if (rest.size() > 1 && rest[1] == '/') {  // an end tag
      if (!open.empty()) open.pop_back();
      at += 2;
      continue;
    }
    // A start tag: its name, then attributes up to ">" or "/>".
    size_t i = at + 1;
    while (i < xml.size() && !isSpace(xml[i]) && xml[i] != '>' && xml[i] != '/') ++i;
    const std::string_view name = xml.substr(at + 1, i - at - 1);
    if (!open.empty() && localName(name) != "li" &&
        !count(open.back().description, &open.back().properties)) {
      return false;
    }
    Open element{localName(name) == "Description", 0};
    bool selfClosing = false;
    while (i < xml.size() && xml[i] != '>') {
      if (xml[i] == '/') {
        selfClosing = true;
        ++i;
        continue;
      }
      if (isSpace(xml[i])) {
        ++i;
        continue;
      }
      selfClosing = false;
      const size_t nameStart = i;
      while (i < xml.size() && xml[i] != '=' && xml[i] != '>' && !isSpace(xml[i])) ++i;
      const std::string_view attribute = xml.substr(nameStart, i - nameStart);
      if (attribute == "xmlns" || attribute.substr(0, 6) == "xmlns:") {
        if (++namespaces > kMaxXmpNamespaces) return false;
      } else if (!count(element.description, &element.properties)) {
        return false;
      }
      while (i < xml.size() && xml[i] != '"' && xml[i] != '\'' && xml[i] != '>') ++i;
      if (i < xml.size() && xml[i] != '>') {  // a quoted value, skipped whole
        const size_t close = xml.find(xml[i], i + 1);
        i = close == std::string_view::npos ? xml.size() : close + 1;
      }
    }
    if (!selfClosing) open.push_back(element);
    at = i;
  }
  return true;
}

}  // namespace velto
