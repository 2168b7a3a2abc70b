// Decoding prints, fixing dims, and print files.
#include "prints/feature_prints.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>

#include "prints/replay_analysis.h"

namespace velto {
namespace {

FeaturePrint floats(std::vector<float> v, size_t extraBytes = 0) {
  FeaturePrint p{ELEMENT_FLOAT32, std::vector<unsigned char>(v.size() * 4 + extraBytes, 0xAB)};
  if (!v.empty()) std::memcpy(p.data.data(), v.data(), v.size() * 4);
  return p;
}

FeaturePrint doubles(std::vector<double> v, size_t extraBytes = 0) {
  FeaturePrint p{ELEMENT_FLOAT64, std::vector<unsigned char>(v.size() * 8 + extraBytes, 0xAB)};
  if (!v.empty()) std::memcpy(p.data.data(), v.data(), v.size() * 8);
  return p;
}

TEST(DecodePrintTest, ElementTypesAndTrailingBytes) {
  EXPECT_EQ(decodePrint(floats({1.5f, -2.0f}, 2)), (FeatureVector{1.5f, -2.0f}));
  EXPECT_EQ(decodePrint(doubles({0.1, 3.0})), (FeatureVector{0.1f, 3.0f}));
  EXPECT_TRUE(decodePrint(doubles({}, 7)).empty());
  EXPECT_TRUE(decodePrint(floats({}, 3)).empty());
  FeaturePrint other = floats({1.0f});
  for (const int64_t type : {int64_t{0}, int64_t{3}, int64_t{-1}, int64_t{0x100000001}}) {
    other.elementType = type;
    EXPECT_TRUE(decodePrint(other).empty()) << type;
  }
  // Rounding to nearest, not truncation.
  const double justAbove = 1.0 + 0x1.8p-24;
  EXPECT_EQ(decodePrint(doubles({justAbove}))[0], std::nextafter(1.0f, 2.0f));
}

class FakeAnalysis final : public ImageAnalysis {
 public:
  std::map<std::string, FeaturePrint> prints;
  std::vector<std::string> asked;
  std::optional<FeaturePrint> featurePrint(const std::string& path) override {
    asked.push_back(path);
    const auto it = prints.find(path);
    if (it == prints.end()) return std::nullopt;
    return it->second;
  }
};

TEST(ExtractFeaturePrintsTest, DimsComeFromTheFirstNonEmptyPrint) {
  FakeAnalysis fake;
  fake.prints["b"] = floats({});            // empty print: no vector, dims untouched
  fake.prints["c"] = floats({1, 2, 3, 4});  // first real one fixes dims
  fake.prints["d"] = doubles({1, 2, 3, 4, 5, 6, 7, 8});
  const FeaturePrints out = extractFeaturePrints({"a", "b", "c", "d", "c"}, fake);
  EXPECT_EQ(fake.asked, (std::vector<std::string>{"a", "b", "c", "d", "c"}));
  EXPECT_EQ(out.dims, 4);
  EXPECT_TRUE(out.vectors[0].empty());
  EXPECT_TRUE(out.vectors[1].empty());
  EXPECT_EQ(out.vectors[3].size(), 8u);  // kept, though not usable
  EXPECT_EQ(extractFeaturePrints({"x", "y"}, fake).dims, -1);
}

TEST(PrintFileTest, RoundTripAndShortFiles) {
  const std::vector<float> v = {0.25f, -1.0f, 3e-20f};
  const auto print = parsePrintFile(printFileBytes(v));
  ASSERT_TRUE(print.has_value());
  EXPECT_EQ(decodePrint(*print), v);
  EXPECT_FALSE(parsePrintFile("").has_value());
  EXPECT_FALSE(parsePrintFile(std::string("\x01\0\0", 3)).has_value());
  EXPECT_EQ(parsePrintFile(std::string("\x02\0\0\0", 4))->elementType, ELEMENT_FLOAT64);
  EXPECT_EQ(parsePrintFile(std::string("\xff\xff\xff\xff", 4))->elementType, 0xffffffff);
}

}  // namespace
}  // namespace velto
