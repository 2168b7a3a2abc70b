// velto-fprint-replay: the whole algorithm driven by recorded print files.
#include <cmath>
#include <cstring>

#include "prints/replay_analysis.h"
#include "testing/test_support.h"

namespace velto::testing {
namespace {

class ReplayE2E : public ::testing::Test {
 protected:
  TempDir dir;
  std::string out = dir.file("out.json");
  int next = 0;

  // Writes a print file and returns its path.
  std::string printRaw(const std::string& bytes) {
    const std::string path = dir.file("p" + std::to_string(next++) + ".print");
    writeFile(path, bytes);
    return path;
  }
  std::string print(const std::vector<float>& v) { return printRaw(printFileBytes(v)); }

  ProgramResult run(const std::vector<std::string>& photos, const std::vector<long long>& tg) {
    return runProgram(kReplay, {writeJob(dir.file("job.json"), photos, tg), out});
  }
  std::string groups(const std::vector<std::string>& photos, const std::vector<long long>& tg) {
    EXPECT_EQ(run(photos, tg), kQuiet);
    return readFile(out);
  }
};

// A strong peak is cut; a run of look-alikes stays whole.
TEST_F(ReplayE2E, SixPhotoRoad) {
  const std::string a = print({1, 0}), a2 = print({0.95f, 0.05f}), b = print({0, 1});
  EXPECT_EQ(groups({a, a, b, b, b, b}, {1, 1, 1, 1, 2, 2}), R"({"groups":[1,1,2,2,3,3]})");
  EXPECT_EQ(groups({a, a, a2, a2, a, a}, {1, 1, 1, 1, 2, 2}), R"({"groups":[1,1,1,1,2,2]})");
}

TEST_F(ReplayE2E, ThresholdComesFromTheTimeGroupChanges) {
  // Looks on a circle, a step of 0.505 rad apart: neighbouring looks score 0.50, below the
  // default 0.54. Time group g holds looks g-1, g-1, g, g, so each time group has one inner
  // step, and the four changes of time group fall between photos of one look (score about
  // 0.33). Their median clamps to the floor 0.45, and the inner steps are cut.
  std::vector<std::string> look;
  for (int k = 0; k <= 5; ++k) {
    look.push_back(print(
        {std::cos(0.505f * static_cast<float>(k)), std::sin(0.505f * static_cast<float>(k))}));
  }
  std::vector<std::string> photos;
  std::vector<long long> tg;
  for (int g = 1; g <= 5; ++g) {
    for (const int k : {g - 1, g - 1, g, g}) photos.push_back(look[k]);
    for (int k = 0; k < 4; ++k) tg.push_back(g);
  }
  EXPECT_EQ(groups(photos, tg), R"({"groups":[1,1,2,2,3,3,4,4,5,5,6,6,7,7,8,8,9,9,10,10]})");
  // The same looks in one time group: the default 0.54 holds and nothing is cut.
  EXPECT_EQ(groups(photos, std::vector<long long>(20, 1)),
            R"({"groups":[1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1]})");
}

TEST_F(ReplayE2E, OnlyTheUndatedPhotoHasAPrintOfTheCommonLength) {
  const std::string longer = print({1, 2, 3, 4, 5, 6, 7, 8});
  EXPECT_EQ(run({print({1, 2, 3, 4}), longer, longer}, {0, 1, 1}),
            failure("no usable feature print among 3 photos (dims=4)"));
  EXPECT_FALSE(exists(out));
}

TEST_F(ReplayE2E, PrintEncodings) {
  const std::string a = print({1, 0});
  // Type 2 (doubles) with the values {0, 1}, and trailing bytes that fill no element.
  std::string type2("\x02\0\0\0", 4);
  for (const double x : {0.0, 1.0}) type2.append(reinterpret_cast<const char*>(&x), 8);
  for (const std::string& b : {printRaw(type2), printRaw(printFileBytes({0, 1}) + "xyz")}) {
    EXPECT_EQ(groups({a, a, b, b}, {1, 1, 1, 1}), R"({"groups":[1,1,2,2]})");
  }
  // Unsupported type, zero elements, a file shorter than 4 bytes and a folder give no print;
  // the job goes on with the photos that have one.
  const std::string type7 = printRaw(std::string("\x07\0\0\0\0\0\x80\x3f", 8));
  const std::string zero = printRaw(std::string("\x01\0\0\0", 4));
  const std::string shortFile = printRaw(std::string("\x01\0", 2));
  EXPECT_EQ(groups({type7, zero, shortFile, dir.path(), a}, {1, 1, 1, 1, 1}),
            R"({"groups":[1,1,1,1,1]})");
  EXPECT_EQ(run({type7, zero, shortFile}, {1, 1, 1}),
            failure("no usable feature print among 3 photos (dims=-1)"));
}

}  // namespace
}  // namespace velto::testing
