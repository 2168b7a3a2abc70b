// Decoding prints, photos analysed on several threads; and velto-fprint-replay, the whole
// algorithm driven by recorded print files (which also fix dims from the first print).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <numeric>
#include <random>
#include <stdexcept>
#include <thread>

#include "prints/feature_prints.h"
#include "prints/replay_analysis.h"
#include "testing/test_support.h"

namespace velto::testing {
namespace {

// A print of the elements `v` (float or double), followed by `extraBytes` that fill none.
template <typename T>
FeaturePrint printOf(const std::vector<T>& v, size_t extraBytes = 0) {
  FeaturePrint p{sizeof(T) == 4 ? kElementFloat32 : kElementFloat64,
                 std::vector<unsigned char>(v.size() * sizeof(T) + extraBytes, 0xAB)};
  if (!v.empty()) std::memcpy(p.data.data(), v.data(), v.size() * sizeof(T));
  return p;
}
FeaturePrint floats(const std::vector<float>& v, size_t extra = 0) { return printOf(v, extra); }
FeaturePrint doubles(const std::vector<double>& v, size_t extra = 0) { return printOf(v, extra); }

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

// Photo "i" gets the print {i}; "throw" throws. Photos from number `slowFrom` on take 20 ms.
// With more than one thread the first call waits (up to 10 s) until a second one has begun: the
// test sees calls overlap without relying on timing.
class ThreadedFake final : public ImageAnalysis {
 public:
  explicit ThreadedFake(int threads, int slowFrom = 1 << 30)
      : threads_(threads), slowFrom_(slowFrom) {}
  std::optional<FeaturePrint> featurePrint(const std::string& path) override {
    const int running = ++running_;
    int most = mostAtOnce_.load();
    while (running > most && !mostAtOnce_.compare_exchange_weak(most, running)) {
    }
    int pause = 0;
    {
      std::unique_lock lock(mutex_);
      asked_.push_back(path);
      changed_.notify_all();
      if (asked_.size() == 1 && threads_ > 1) {
        changed_.wait_for(lock, std::chrono::seconds(10), [&] { return asked_.size() > 1; });
      }
      pause = std::uniform_int_distribution<int>(0, 300)(rng_);
    }
    if (path != "throw" && std::stoi(path) >= slowFrom_) pause = 20000;
    std::this_thread::sleep_for(std::chrono::microseconds(pause));
    --running_;
    if (path == "throw") throw std::runtime_error("no print");
    return floats({std::stof(path)});
  }
  int concurrency() const override { return threads_; }
  std::vector<std::string> asked() {
    const std::lock_guard lock(mutex_);
    return asked_;
  }
  int mostAtOnce() const { return mostAtOnce_; }

 private:
  const int threads_, slowFrom_;
  std::atomic<int> running_{0}, mostAtOnce_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> asked_;
  std::mt19937 rng_{7};
};

std::vector<std::string> numbered(int n) {
  std::vector<std::string> photos;
  for (int i = 0; i < n; ++i) photos.push_back(std::to_string(i));
  return photos;
}

TEST(AnalysePhotosTest, PrintsComeInPhotoOrderOnTheCallingThreadWhateverTheThreads) {
  for (const int threads : {1, 2, 3, 8}) {
    ThreadedFake fake(threads);
    std::vector<std::string> photos = numbered(40);
    photos[17] = "throw";  // a throwing analysis is a photo without a print
    std::vector<size_t> order;
    const std::thread::id caller = std::this_thread::get_id();
    bool elsewhere = false;
    analysePhotos(photos, fake, [&](size_t i, std::optional<FeaturePrint> print) {
      order.push_back(i);
      elsewhere |= std::this_thread::get_id() != caller;
      const FeatureVector v = print ? decodePrint(*print) : FeatureVector{};
      EXPECT_EQ(v, i == 17 ? FeatureVector{} : FeatureVector{static_cast<float>(i)}) << i;
      return true;
    });
    std::vector<size_t> want(40);
    std::iota(want.begin(), want.end(), 0);
    EXPECT_EQ(order, want) << threads;
    EXPECT_FALSE(elsewhere) << threads;
    std::vector<std::string> asked = fake.asked();
    std::sort(asked.begin(), asked.end());
    std::sort(photos.begin(), photos.end());
    EXPECT_EQ(asked, photos) << threads;  // each photo once
    EXPECT_GE(fake.mostAtOnce(), std::min(threads, 2)) << threads;
    EXPECT_LE(fake.mostAtOnce(), threads) << threads;
  }
}

TEST(AnalysePhotosTest, RefusedPrintLeavesThePhotosNotBegun) {
  ThreadedFake fake(4, /*slowFrom=*/10);
  std::vector<size_t> order;
  analysePhotos(numbered(40), fake, [&](size_t i, std::optional<FeaturePrint>) {
    order.push_back(i);
    return i < 5;
  });
  EXPECT_EQ(order, (std::vector<size_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_LT(fake.asked().size(), 20u);
}

// Photo "R:x" has the print {x} of recipe R; "-" has none.
class RecipeFake final : public ImageAnalysis {
 public:
  std::optional<FeaturePrint> featurePrint(const std::string& path) override {
    if (path == "-") return std::nullopt;
    FeaturePrint print = floats({std::stof(path.substr(path.find(':') + 1))});
    print.recipe = std::stoll(path);
    return print;
  }
};

// The first photo with a print sets the job's recipe; prints of any other recipe count as none,
// wherever they come, so two recipes are never compared.
TEST(ExtractFeaturePrintsTest, PrintsOfAnotherRecipeThanTheFirstCountAsNone) {
  RecipeFake fake;
  const struct {
    std::vector<std::string> photos;
    int64_t recipe;
    std::vector<FeatureVector> vectors;
  } cases[] = {
      {{"-", "2:1", "0:2", "2:3", "7:4"}, 2, {{}, {1}, {}, {3}, {}}},
      {{"0:1", "2:2", "0:3"}, 0, {{1}, {}, {3}}},
      {{"-", "-"}, -1, {{}, {}}},
  };
  for (const auto& c : cases) {
    const FeaturePrints got = extractFeaturePrints(c.photos, fake);
    EXPECT_EQ(got.recipe, c.recipe) << c.photos[0];
    EXPECT_EQ(got.vectors, c.vectors) << c.photos[0];
    EXPECT_EQ(got.dims, c.recipe < 0 ? -1 : 1);
  }
}

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
  std::string print(const std::vector<float>& v, int64_t recipe = 0) {
    return printRaw(printFileBytes(v, recipe));
  }

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

// Two-photo scenes side by side: three-photo windows blur them, the series grouping parts them.
// Without --rules the fixed rules group, as velto-fprint does.
TEST_F(ReplayE2E, RulesChooseTheGrouping) {
  std::vector<std::string> photos;
  for (int scene = 0; scene < 5; ++scene) {
    std::vector<float> v(6, 0.0f);
    v[scene] = 1.0f;
    v[5] = 1.0f;
    const std::string p = print(v);
    photos.insert(photos.end(), {p, p});
  }
  const std::string job = writeJob(dir.file("job.json"), photos, std::vector<long long>(10, 1));
  const auto grouped = [&](const std::vector<std::string>& options) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {job, out});
    EXPECT_EQ(runProgram(kReplay, args), kQuiet);
    return readFile(out);
  };
  const std::string fixed = grouped({});
  EXPECT_EQ(grouped({"--rules", "platform"}), fixed);
  EXPECT_EQ(grouped({"--rules=series"}), R"({"groups":[1,1,2,2,3,3,4,4,5,5]})");
  EXPECT_NE(fixed, R"({"groups":[1,1,2,2,3,3,4,4,5,5]})");
  EXPECT_EQ(runProgram(kReplay, {"--rules", "both", job, out}),
            failure("velto-fprint-replay: --rules takes platform or series, not \"both\""));
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

// The recipe rides in the high half of the first word: files without it (written before
// recipes were stated) still read, and a job groups by the prints of its first photo's recipe.
TEST_F(ReplayE2E, PrintFilesKeepTheirRecipeApart) {
  const std::string header = printFileBytes({}, 0x1234);
  EXPECT_EQ(header, std::string("\x01\0\x34\x12", 4));
  const std::optional<FeaturePrint> parsed = parsePrintFile(printFileBytes({0.5f}, 2));
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->recipe, 2);
  EXPECT_EQ(decodePrint(*parsed), FeatureVector{0.5f});
  const std::string a0 = print({1, 0}), b0 = print({0, 1});
  const std::string a2 = print({1, 0}, 2), b2 = print({0, 1}, 2);
  EXPECT_EQ(groups({a2, a2, b2, b2}, {1, 1, 1, 1}), R"({"groups":[1,1,2,2]})");
  EXPECT_EQ(groups({a0, a0, b0, b0}, {1, 1, 1, 1}), R"({"groups":[1,1,2,2]})");
  // Mixed: the other recipe's prints are left out and nothing tells the two looks apart.
  EXPECT_EQ(groups({a0, a0, b2, b2}, {1, 1, 1, 1}), R"({"groups":[1,1,1,1]})");
  EXPECT_EQ(groups({a2, a2, b0, b0}, {1, 1, 1, 1}), R"({"groups":[1,1,1,1]})");
}

}  // namespace
}  // namespace velto::testing
