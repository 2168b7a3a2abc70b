// The prints cache on real SQLite files: what it serves and what it refuses, recipes, pruning,
// files that are damaged or not a cache at all, and the cached analysis in front of a fake one.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "cache/cache_location.h"
#include "cache/cached_analysis.h"
#include "cache/file_fingerprint.h"
#include "cache/prints_cache.h"
#include "testing/test_support.h"

namespace velto::testing {
namespace {

constexpr int64_t kNow = 1796000000;  // some day in 2026
constexpr int64_t kDay = 24 * 3600;

FileFingerprint fingerprint(int64_t n) {
  return {{7, 1000 + n, 5000 + n, n * 1000000007},
          0x9e3779b97f4a7c15ull * static_cast<uint64_t>(n + 1)};
}

FeaturePrint printOf(int64_t n) {
  FeaturePrint p{kElementFloat32, std::vector<unsigned char>(417 * 4), 2 + n % 3};
  for (size_t i = 0; i < p.data.size(); ++i) p.data[i] = static_cast<unsigned char>(i * 31 + n);
  return p;
}

bool samePrint(const std::optional<FeaturePrint>& a, const FeaturePrint& b) {
  return a && a->elementType == b.elementType && a->data == b.data && a->recipe == b.recipe;
}

// A cache at `path` holding the prints of fingerprints 0 .. n-1.
void fill(const std::string& path, int64_t n, const std::string& recipe = "r1",
          int64_t now = kNow) {
  PrintsCache cache(path, recipe, now);
  for (int64_t i = 0; i < n; ++i) cache.store(fingerprint(i), printOf(i));
  cache.finish();
  ASSERT_FALSE(cache.problem()) << cache.problem()->reason;
}

TEST(PrintsCache, ServesOnlyTheSameFileContentAndRecipe) {
  TempDir dir;
  const std::string path = dir.file("c.sqlite3");
  fill(path, 100);  // more than one batch
  PrintsCache cache(path, "r1", kNow);
  for (int64_t i = 0; i < 100; ++i) EXPECT_TRUE(samePrint(cache.find(fingerprint(i)), printOf(i)));
  EXPECT_FALSE(cache.find(fingerprint(100)));
  // Any one part of the file's identity or content hash changed: a miss.
  for (int part = 0; part < 4; ++part) {
    FileFingerprint f = fingerprint(3);
    int64_t* fields[] = {&f.identity.size, &f.identity.mtimeNanoseconds, &f.identity.inode,
                         &f.identity.device};
    *fields[part] += 1;
    EXPECT_FALSE(cache.find(f)) << "part " << part;
  }
  FileFingerprint changed = fingerprint(3);
  changed.contentHash ^= 1;
  EXPECT_FALSE(cache.find(changed));
  // An empty print is kept as it is.
  cache.store(fingerprint(200), FeaturePrint{kElementFloat32, {}});
  // The file printed afresh replaces its entry.
  cache.store(changed, printOf(55));
  cache.finish();
  PrintsCache again(path, "r1", kNow);
  EXPECT_TRUE(samePrint(again.find(changed), printOf(55)));
  EXPECT_FALSE(again.find(fingerprint(3)));
  EXPECT_TRUE(samePrint(again.find(fingerprint(200)), FeaturePrint{kElementFloat32, {}}));
  EXPECT_FALSE(again.problem());
}

TEST(PrintsCache, AnotherRecipeDropsEveryEntry) {
  TempDir dir;
  const std::string path = dir.file("c.sqlite3");
  fill(path, 5, "r1");
  {
    PrintsCache other(path, "r2", kNow);
    for (int64_t i = 0; i < 5; ++i) EXPECT_FALSE(other.find(fingerprint(i)));
    other.store(fingerprint(9), printOf(9));
  }
  PrintsCache back(path, "r1", kNow);
  for (int64_t i = 0; i < 5; ++i) EXPECT_FALSE(back.find(fingerprint(i)));
  EXPECT_FALSE(back.find(fingerprint(9)));  // r2's print is no r1 print
}

TEST(PrintsCache, EntriesNotSeenForHalfAYearArePruned) {
  TempDir dir;
  const std::string path = dir.file("c.sqlite3");
  fill(path, 3);
  {  // 100 days later only the first is looked for: its seen time is renewed
    PrintsCache cache(path, "r1", kNow + 100 * kDay);
    EXPECT_TRUE(cache.find(fingerprint(0)));
  }
  PrintsCache later(path, "r1", kNow + 200 * kDay);
  later.finish();
  PrintsCache check(path, "r1", kNow + 200 * kDay);
  EXPECT_TRUE(check.find(fingerprint(0)));
  EXPECT_FALSE(check.find(fingerprint(1)));
  EXPECT_FALSE(check.find(fingerprint(2)));
}

TEST(PrintsCache, AFileThatIsNoCacheIsLeftAloneAndADamagedOneIsMadeAnew) {
  TempDir dir;
  const std::string notes = dir.file("notes.txt");
  writeFile(notes, "my notes, not a cache");
  {
    PrintsCache cache(notes, "r1", kNow);
    cache.store(fingerprint(0), printOf(0));
    EXPECT_FALSE(cache.find(fingerprint(0)));
    ASSERT_TRUE(cache.problem());
    EXPECT_EQ(cache.problem()->kind, CacheProblemKind::kNotACache);
  }
  EXPECT_EQ(readFile(notes), "my notes, not a cache");

  // The schema page overwritten behind an intact header: SQLite finds the damage at once.
  const std::string path = dir.file("c.sqlite3");
  fill(path, 10);
  std::string bytes = readFile(path);
  for (size_t i = 100; i < 4096; ++i) bytes[i] = static_cast<char>(i * 7);
  writeFile(path, bytes);
  {
    PrintsCache cache(path, "r1", kNow);
    ASSERT_TRUE(cache.problem());
    EXPECT_EQ(cache.problem()->kind, CacheProblemKind::kRebuilt);
    EXPECT_FALSE(cache.find(fingerprint(1)));
    cache.store(fingerprint(1), printOf(1));
  }
  PrintsCache rebuilt(path, "r1", kNow);
  EXPECT_TRUE(samePrint(rebuilt.find(fingerprint(1)), printOf(1)));
  EXPECT_FALSE(rebuilt.problem());
}

// Hundreds of damaged copies of a real cache: bytes flipped, runs of bytes overwritten, the
// file cut short. Whatever the damage, the reader neither crashes nor serves a print that is
// not the one stored, and the cache still takes new prints or reports why not.
TEST(PrintsCache, DamagedFilesNeverCrashNorServeAWrongPrint) {
  TempDir dir;
  const std::string original = dir.file("original.sqlite3");
  constexpr int64_t kEntries = 60;
  fill(original, kEntries);
  const std::string bytes = readFile(original);
  ASSERT_GT(bytes.size(), 60000u);
  std::mt19937_64 random(23);
  int served = 0, problems = 0;
  for (int round = 0; round < 300; ++round) {
    std::string damaged = bytes;
    const auto at = [&](size_t size) { return static_cast<size_t>(random() % size); };
    switch (round % 3) {
      case 0:
        for (int k = 0; k < 1 + round % 7; ++k)
          damaged[at(damaged.size())] ^= static_cast<char>(1 << (random() % 8));
        break;
      case 1: {
        const size_t start = at(damaged.size());
        for (size_t i = start; i < std::min(damaged.size(), start + 1 + at(200)); ++i)
          damaged[i] = static_cast<char>(random());
        break;
      }
      default:
        damaged.resize(at(damaged.size()));
    }
    const std::string path = dir.file("d" + std::to_string(round) + ".sqlite3");
    writeFile(path, damaged);
    PrintsCache cache(path, "r1", kNow);
    for (int64_t i = 0; i < kEntries; ++i) {
      const std::optional<FeaturePrint> p = cache.find(fingerprint(i));
      if (p) {
        ++served;
        EXPECT_TRUE(samePrint(p, printOf(i))) << "round " << round << ", entry " << i;
      }
    }
    cache.store(fingerprint(kEntries), printOf(kEntries));
    cache.finish();
    problems += cache.problem() ? 1 : 0;
    PrintsCache reopened(path, "r1", kNow);
    const std::optional<FeaturePrint> p = reopened.find(fingerprint(kEntries));
    EXPECT_TRUE(!p || samePrint(p, printOf(kEntries)));
    reopened.finish();
    ::unlink(path.c_str());
  }
  // Both kinds of outcome happened: the test did reach damage SQLite notices and damage it
  // serves around.
  EXPECT_GT(served, 0);
  EXPECT_GT(problems, 0);
}

TEST(FileFingerprint, FollowsTheBytesAndTheIdentity) {
  TempDir dir;
  writeFile(dir.file("a"), "one photo");
  const std::optional<FileFingerprint> a = fingerprintFile(dir.file("a"));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->identity.size, 9);
  EXPECT_EQ(a->contentHash, hashBytes("one photo", 9));
  EXPECT_EQ(identityOf(dir.file("a")), a->identity);
  writeFile(dir.file("b"), "one photo");
  EXPECT_EQ(fingerprintFile(dir.file("b"))->contentHash, a->contentHash);
  EXPECT_NE(fingerprintFile(dir.file("b"))->identity, a->identity);
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(fingerprintFile(dir.file("fifo")));  // and does not wait for a writer
  EXPECT_FALSE(fingerprintFile(dir.path()));
  EXPECT_FALSE(fingerprintFile(dir.file("missing")));
}

// Counts the photos it is asked for; the print is the file's bytes.
class FakeAnalysis : public ImageAnalysis {
 public:
  explicit FakeAnalysis(int* calls, std::function<void()> during = nullptr)
      : calls_(calls), during_(std::move(during)) {}
  std::optional<FeaturePrint> featurePrint(const std::string& path) override {
    ++*calls_;
    if (during_) during_();
    const std::string bytes = readFile(path);
    if (bytes == "broken") return std::nullopt;
    return FeaturePrint{kElementFloat32, {bytes.begin(), bytes.end()}};
  }

 private:
  int* calls_;
  std::function<void()> during_;
};

TEST(CachedAnalysis, AsksTheAnalysisOnlyForWhatTheCacheDoesNotKnow) {
  TempDir dir;
  const std::string photo = dir.file("p.jpg"), broken = dir.file("broken.jpg");
  writeFile(photo, "first content");
  writeFile(broken, "broken");
  struct stat before {};
  ASSERT_EQ(::stat(photo.c_str(), &before), 0);
  int calls = 0;
  const auto run = [&](const std::string& path, std::function<void()> during = nullptr) {
    PrintsCache cache(dir.file("c.sqlite3"), "r1", kNow);
    CachedAnalysis analysis(std::make_unique<FakeAnalysis>(&calls, std::move(during)), &cache);
    const std::optional<FeaturePrint> p = analysis.featurePrint(path);
    return p ? std::string(p->data.begin(), p->data.end()) : std::string("none");
  };
  EXPECT_EQ(run(photo), "first content");
  EXPECT_EQ(run(photo), "first content");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(run(broken), "none");  // no print is not kept: asked again
  EXPECT_EQ(run(broken), "none");
  EXPECT_EQ(calls, 3);

  // Other bytes of the same length, the modification time put back: the hash tells.
  writeFile(photo, "other content");
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, photo.c_str(), times, 0), 0);
  EXPECT_EQ(run(photo), "other content");
  EXPECT_EQ(calls, 4);

  // Changed while being analysed: served this once, not kept under the hash it was read with.
  writeFile(photo, "fourth content");
  EXPECT_EQ(run(photo, [&] { writeFile(photo, "fifth content, longer"); }),
            "fifth content, longer");
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(run(photo), "fifth content, longer");
  EXPECT_EQ(calls, 6);
  EXPECT_EQ(run(photo), "fifth content, longer");
  EXPECT_EQ(calls, 6);
}

TEST(CacheLocation, FollowsTheXdgConvention) {
  EXPECT_EQ(defaultCachePath("/x/cache", "/home/u"), "/x/cache/velto-fprint/prints.sqlite3");
  EXPECT_EQ(defaultCachePath(nullptr, "/home/u"), "/home/u/.cache/velto-fprint/prints.sqlite3");
  EXPECT_EQ(defaultCachePath("", "/home/u"), "/home/u/.cache/velto-fprint/prints.sqlite3");
  EXPECT_EQ(defaultCachePath("relative", "/home/u"), "/home/u/.cache/velto-fprint/prints.sqlite3");
  EXPECT_EQ(defaultCachePath(nullptr, nullptr), std::nullopt);
  EXPECT_EQ(defaultCachePath(nullptr, "relative"), std::nullopt);
  TempDir dir;
  std::string err;
  EXPECT_TRUE(makeCacheFolder(dir.file("a/b/prints.sqlite3"), &err)) << err;
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("a/b").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  writeFile(dir.file("file"), "");
  EXPECT_FALSE(makeCacheFolder(dir.file("file/sub/prints.sqlite3"), &err));
  EXPECT_EQ(err, "Not a directory");
}

}  // namespace
}  // namespace velto::testing
