// The check that keeps XMP with too many properties side by side from Exiv2's toolkit, at the
// limit and one past it, for each way of putting properties side by side.
#include <gtest/gtest.h>

#include <string>

#include "metadata/xmp_limits.h"

namespace velto {
namespace {

std::string repeated(const std::string& part, int64_t n) {
  std::string out;
  for (int64_t i = 0; i < n; ++i) out += part + std::to_string(i) + " ";
  return out;
}

std::string packet(const std::string& descriptions) {
  return "<?xml version=\"1.0\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
         "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">" +
         descriptions + "</rdf:RDF></x:xmpmeta>";
}

std::string properties(int64_t n) {
  std::string out;
  for (int64_t i = 0; i < n; ++i) out += "<my:p" + std::to_string(i) + ">v</my:p" + std::to_string(i) + ">";
  return out;
}

std::string attributes(int64_t n) {
  std::string out;
  for (int64_t i = 0; i < n; ++i) out += " my:a" + std::to_string(i) + "='v'";
  return out;
}

std::string description(const std::string& inside, int64_t extraAttributes = 0) {
  return "<rdf:Description xmlns:my=\"http://example.invalid/my/\"" + attributes(extraAttributes) +
         ">" + inside + "</rdf:Description>";
}

TEST(XmpLimitsTest, PropertiesSideBySideUpToTheLimit) {
  constexpr int64_t kMax = kMaxXmpSiblings;
  struct Case {
    const char* what;
    std::string xml;
    bool accepted;
  };
  std::string namespaces;
  for (int64_t i = 0; i < kMax; ++i) namespaces += "<my:s xmlns:n" + std::to_string(i) + "='u'/>";
  const std::string structOf = "<my:s>" + properties(kMax) + "</my:s>";
  const Case cases[] = {
      {"elements", packet(description(properties(kMax))), true},
      {"elements + 1", packet(description(properties(kMax + 1))), false},
      {"attributes and elements", packet(description(properties(kMax - 10), 10)), true},
      {"one more attribute", packet(description(properties(kMax - 10), 11)), false},
      {"split over descriptions", packet(description(properties(kMax / 2)) +
                                         description(properties(kMax / 2))), true},
      {"split, one more", packet(description(properties(kMax / 2)) +
                                 description(properties(kMax / 2 + 1))), false},
      {"struct fields", packet(description(structOf)), true},
      {"struct fields + 1", packet(description("<my:s>" + properties(kMax + 1) + "</my:s>")), false},
      {"attributes of an array item",
       packet(description("<my:b><rdf:Bag><rdf:li" + attributes(kMax + 1) + "/></rdf:Bag></my:b>")),
       false},
      {"array items", packet(description("<my:b><rdf:Bag>" + repeated("<rdf:li>x</rdf:li>", 3 * kMax) +
                                         "</rdf:Bag></my:b>")), true},
      {"namespaces, one on each element", packet(description(namespaces)), false},
      {"properties in comments and CDATA",
       packet(description("<!--" + properties(kMax + 1) + "--><my:c><![CDATA[" +
                          properties(kMax + 1) + "]]></my:c>")), true},
      {"cut short", packet(description(properties(kMax + 1))).substr(0, 300000), false},
  };
  for (const Case& c : cases) EXPECT_EQ(xmpWithinLimits(c.xml), c.accepted) << c.what;
}

}  // namespace
}  // namespace velto
