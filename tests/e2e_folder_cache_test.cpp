// velto-fprint-folder's prints cache on real photos and real cache files: a warm run lists what
// a cold one listed; a changed photo, a damaged, foreign, read-only or full cache, two runs at
// once, a recipe change and runs killed while writing never give a wrong listing nor a failed
// run. Also photos dated by their file time, and --help and --version of the programs.
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <thread>

#include "testing/test_support.h"

namespace velto::testing {
namespace {

// Every test process (ctest runs one per test) gets a cache folder of its own, so the default
// cache of the folder tests is never the user's and never shared between tests. Open to user
// 65534, whom some tests run as.
class FreshCacheHome : public ::testing::Environment {
 public:
  void SetUp() override {
    home_ = std::make_unique<TempDir>();
    ::chmod(home_->path().c_str(), 0777);
    ::setenv("XDG_CACHE_HOME", home_->path().c_str(), 1);
  }
  void TearDown() override { home_.reset(); }

 private:
  std::unique_ptr<TempDir> home_;
};
[[maybe_unused]] ::testing::Environment* const kFreshCacheHome =
    ::testing::AddGlobalTestEnvironment(new FreshCacheHome);

const std::vector<std::string> kExamplePhotos = {
    "cat_1.jpg",    "cat_2.jpg",    "cat_3.jpg",    "coffee_1.jpg",    "coffee_2.jpg",
    "coffee_3.jpg", "rocket_1.jpg", "rocket_2.jpg", "astronaut_1.jpg", "astronaut_2.jpg"};
constexpr int64_t kFirstPhotoTime = 1796652000;  // 2026-12-07 14:00 UTC

void setModificationTime(const std::string& path, int64_t seconds) {
  const struct timespec times[2] = {{static_cast<time_t>(seconds), 0},
                                    {static_cast<time_t>(seconds), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// `count` photos p000.jpg ... in `dir`, copies of the example photos in turn, each with bytes
// of its own after the picture's end, all of one size, and dated by their file times two
// seconds apart: one time group, so that their groups come from their prints alone.
std::vector<std::string> makePhotos(const TempDir& dir, int count) {
  size_t size = 0;
  for (const std::string& name : kExamplePhotos)
    size = std::max(size, readFile(kPhotos + name).size());
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "p%03d.jpg", i);
    std::string bytes =
        readFile(kPhotos + kExamplePhotos[static_cast<size_t>(i) % kExamplePhotos.size()]);
    bytes += "#" + std::to_string(i);
    bytes.resize(size + 16, '\0');
    paths.push_back(dir.file(name));
    writeFile(paths.back(), bytes);
    setModificationTime(paths.back(), kFirstPhotoTime + 2 * i);
  }
  return paths;
}

bool mentionsCache(const std::string& err) { return err.find("prints cache") != std::string::npos; }

int64_t fromCache(const std::string& err) {
  const size_t at = err.find(" prints from the cache");
  if (at == std::string::npos) return 0;
  return std::stoll(err.substr(err.rfind(", ", at) + 2));
}

// Runs SQL on the cache file; the test fails if SQLite does.
void tamper(const std::string& cache, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(cache.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK) << error;
  sqlite3_free(error);
  sqlite3_close(db);
}

TEST(FolderCacheE2E, AWarmRunListsWhatAColdRunListedWithEveryPrintFromTheCache) {
  TempDir dir;
  makePhotos(dir, 10);
  const ProgramResult reference = runProgram(kFolder, {"--no-cache", dir.path()});
  ASSERT_EQ(reference.status, 0) << reference.err;
  EXPECT_FALSE(exists(std::string(std::getenv("XDG_CACHE_HOME")) + "/velto-fprint"));
  const ProgramResult cold = runProgram(kFolder, {dir.path()});
  const ProgramResult warm = runProgram(kFolder, {dir.path()});
  EXPECT_EQ(cold, reference);
  EXPECT_EQ(warm.out, reference.out);
  EXPECT_EQ(warm.err,
            reference.err.substr(0, reference.err.size() - 1) + ", 10 prints from the cache\n");
  EXPECT_TRUE(exists(std::string(std::getenv("XDG_CACHE_HOME")) + "/velto-fprint/prints.sqlite3"));

  // --cache puts it elsewhere; --no-cache wins over it.
  TempDir other;
  EXPECT_EQ(runProgram(kFolder, {"--no-cache", "--cache", other.file("c"), dir.path()}), reference);
  EXPECT_FALSE(exists(other.file("c")));
  EXPECT_EQ(runProgram(kFolder, {"--cache", other.file("c"), dir.path()}), reference);
  EXPECT_EQ(fromCache(runProgram(kFolder, {"--cache", other.file("c"), dir.path()}).err), 10);
}

TEST(FolderCacheE2E, AChangedPhotoIsPrintedAfreshEvenWithItsSizeAndTimeKept) {
  TempDir dir;
  const std::vector<std::string> photos = makePhotos(dir, 10);
  const ProgramResult first = runProgram(kFolder, {dir.path()});
  ASSERT_EQ(first.status, 0) << first.err;
  // All but the cats become the first cat, in place: same files, sizes and modification times.
  const std::string cat = readFile(photos[0]);
  for (size_t i = 3; i < photos.size(); ++i) {
    const int fd = ::open(photos[i].c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, cat.data(), cat.size(), 0), static_cast<ssize_t>(cat.size()));
    ::close(fd);
    setModificationTime(photos[i], kFirstPhotoTime + 2 * static_cast<int64_t>(i));
  }
  const ProgramResult reference = runProgram(kFolder, {"--no-cache", dir.path()});
  ASSERT_NE(reference.out, first.out) << "cats alone make other groups";
  const ProgramResult warm = runProgram(kFolder, {dir.path()});
  EXPECT_EQ(warm.out, reference.out);
  EXPECT_EQ(fromCache(warm.err), 3);
}

TEST(FolderCacheE2E, AFileThatIsNoCacheIsLeftAloneAndADamagedCacheIsMadeAnew) {
  TempDir dir, store;
  makePhotos(dir, 10);
  const ProgramResult reference = runProgram(kFolder, {"--no-cache", dir.path()});
  const std::string notes = store.file("notes.txt");
  writeFile(notes, "a file named by mistake");
  EXPECT_EQ(runProgram(kFolder, {"--cache", notes, dir.path()}),
            (ProgramResult{0, reference.out,
                           "velto-fprint-folder: could not use the prints cache " + notes +
                               ": it is not an SQLite database; prints are computed without it\n" +
                               reference.err}));
  EXPECT_EQ(readFile(notes), "a file named by mistake");

  const std::string cache = store.file("c.sqlite3");
  ASSERT_EQ(runProgram(kFolder, {"--cache", cache, dir.path()}).status, 0);
  std::string bytes = readFile(cache);
  ASSERT_GT(bytes.size(), 8192u);
  for (size_t i = 100; i < 4096; ++i) bytes[i] = static_cast<char>(i);  // its table of tables
  writeFile(cache, bytes);
  const ProgramResult damaged = runProgram(kFolder, {"--cache", cache, dir.path()});
  EXPECT_EQ(damaged.status, 0);
  EXPECT_EQ(damaged.out, reference.out);
  EXPECT_TRUE(
      contains(damaged.err, "velto-fprint-folder: the prints cache " + cache + " was damaged ("));
  EXPECT_TRUE(contains(damaged.err, "); it is started afresh\n" + reference.err));
  EXPECT_EQ(fromCache(runProgram(kFolder, {"--cache", cache, dir.path()}).err), 10);

  // Prints damaged where SQLite cannot see it: every entry fails its own check.
  tamper(cache, "UPDATE prints SET print = zeroblob(length(print))");
  EXPECT_EQ(runProgram(kFolder, {"--cache", cache, dir.path()}), reference);
}

// As user 65534: a cache file it may only read serves its prints and keeps no new ones; in a
// folder it may not write either, SQLite cannot read the file's log index, and it is not used.
TEST(FolderCacheE2E, AReadOnlyCacheServesWhatItCanAndTheRunGoesOn) {
  if (runAsNobody({"/usr/bin/test", "-x", kFolder}).status != 0) {
    GTEST_SKIP() << "root, but user 65534 cannot run the program";
  }
  TempDir dir, store;
  ::chmod(dir.path().c_str(), 0755);
  const std::vector<std::string> photos = makePhotos(dir, 12);
  for (const std::string& p : photos) ::chmod(p.c_str(), 0644);
  const std::string cache = store.file("c.sqlite3");
  ASSERT_EQ(::unlink(photos[11].c_str()), 0);  // one photo comes after the cache is made
  ASSERT_EQ(runProgram(kFolder, {"--cache", cache, dir.path()}).status, 0);
  writeFile(photos[11], readFile(photos[0]) + "new");
  ::chmod(photos[11].c_str(), 0644);
  const ProgramResult reference = runProgram(kFolder, {"--no-cache", dir.path()});
  ::chmod(cache.c_str(), 0444);

  ::chmod(store.path().c_str(), 0777);
  const ProgramResult readOnlyFile = runAsNobody({kFolder, "--cache", cache, dir.path()});
  EXPECT_EQ(readOnlyFile.status, 0);
  EXPECT_EQ(readOnlyFile.out, reference.out);
  EXPECT_EQ(readOnlyFile.err, "velto-fprint-folder: the prints cache " + cache +
                                  " is read-only; new prints are not kept\n" +
                                  reference.err.substr(0, reference.err.size() - 1) +
                                  ", 11 prints from the cache\n");
  for (const char* suffix : {"-wal", "-shm"}) ::unlink((cache + suffix).c_str());

  ::chmod(store.path().c_str(), 0555);
  const ProgramResult readOnlyFolder = runAsNobody({kFolder, "--cache", cache, dir.path()});
  EXPECT_EQ(readOnlyFolder.status, 0);
  EXPECT_EQ(readOnlyFolder.out, reference.out);
  EXPECT_EQ(readOnlyFolder.err, "velto-fprint-folder: could not use the prints cache " + cache +
                                    ": attempt to write a readonly database; prints are computed "
                                    "without it\n" +
                                    reference.err);
  ::chmod(store.path().c_str(), 0755);
}

TEST(FolderCacheE2E, AFullDiskStopsTheCacheNotTheRun) {
  TempDir dir, store;
  const std::vector<std::string> photos = makePhotos(dir, 22);
  const std::string cache = store.file("c.sqlite3");
  // Two photos kept first; then the other twenty cannot be written: with the file-size limit
  // at 40 KiB the shared-memory index (32 KiB) fits, the log of the batch does not. SIGXFSZ
  // ignored, as a full disk sends none.
  TempDir two;
  for (size_t i = 0; i < 2; ++i) {
    ASSERT_EQ(::link(photos[i].c_str(), two.file("p" + std::to_string(i) + ".jpg").c_str()), 0);
  }
  ASSERT_EQ(runProgram(kFolder, {"--cache", cache, two.path()}).status, 0);
  const ProgramResult reference = runProgram(kFolder, {"--no-cache", dir.path()});
  const ProgramResult full =
      runProgram("/bin/sh", {"-c", "ulimit -f 80; trap '' XFSZ; exec \"$0\" --cache \"$1\" \"$2\"",
                             kFolder, cache, dir.path()});
  EXPECT_EQ(full.status, 0);
  EXPECT_EQ(full.out, reference.out);
  EXPECT_TRUE(
      contains(full.err, "velto-fprint-folder: could not write the prints cache " + cache + ": "));
  EXPECT_TRUE(contains(full.err, "; new prints are not kept\n"));
  EXPECT_EQ(std::count(full.err.begin(), full.err.end(), '\n'), 2) << full.err;
  // The next run with room uses what was there and keeps the rest.
  const ProgramResult next = runProgram(kFolder, {"--cache", cache, dir.path()});
  EXPECT_EQ(next.out, reference.out);
  EXPECT_FALSE(mentionsCache(next.err)) << next.err;
  EXPECT_EQ(fromCache(next.err), 2);
  EXPECT_EQ(fromCache(runProgram(kFolder, {"--cache", cache, dir.path()}).err), 22);
}

TEST(FolderCacheE2E, TwoRunsAtOnceShareOneCache) {
  TempDir dir, io;
  makePhotos(dir, 30);
  const ProgramResult reference = runProgram(kFolder, {"--no-cache", dir.path()});
  std::vector<pid_t> children;
  for (const char* run : {"a", "b"}) {
    children.push_back(startChild(kFolder, {dir.path()}, "/dev/null",
                                  io.file(std::string(run) + ".out"),
                                  io.file(std::string(run) + ".err")));
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (const char* run : {"a", "b"}) {
    EXPECT_EQ(readFile(io.file(std::string(run) + ".out")), reference.out);
    EXPECT_FALSE(mentionsCache(readFile(io.file(std::string(run) + ".err"))));
  }
  EXPECT_EQ(fromCache(runProgram(kFolder, {dir.path()}).err), 30);
}

TEST(FolderCacheE2E, PrintsOfAnotherRecipeAreNeverServed) {
  TempDir dir, store;
  makePhotos(dir, 10);
  const std::string cache = store.file("c.sqlite3");
  const ProgramResult reference = runProgram(kFolder, {"--cache", cache, dir.path()});
  tamper(cache,
         "UPDATE settings SET value = 'an older recipe'; UPDATE prints SET recipe = recipe + 1");
  EXPECT_EQ(runProgram(kFolder, {"--cache", cache, dir.path()}), reference);
  EXPECT_EQ(fromCache(runProgram(kFolder, {"--cache", cache, dir.path()}).err), 10);
}

// SIGKILL at random moments of cold runs: whatever was committed stays usable, the next run
// neither warns nor lists anything else. Each round gives the photos new inodes (same names,
// bytes and times), so that the killed run has everything to compute again.
TEST(FolderCacheE2E, ARunKilledWhileWritingLeavesACacheTheNextRunUses) {
  TempDir dir, io, store;
  const std::vector<std::string> photos = makePhotos(dir, 100);
  const std::string cache = store.file("c.sqlite3");
  const MeasuredRun reference = runMeasured(kFolder, {"--no-cache", dir.path()}, 300);
  ASSERT_EQ(reference.status, 0);
  std::string kept;  // what each killed run left for the next
  int64_t keptByKilledRuns = 0;
  for (const double fraction : {0.3, 0.55, 0.8}) {
    for (size_t i = 0; i < photos.size(); ++i) {
      const std::string bytes = readFile(photos[i]);
      writeFile(dir.file("new"), bytes);
      setModificationTime(dir.file("new"), kFirstPhotoTime + 2 * static_cast<int64_t>(i));
      ASSERT_EQ(::rename(dir.file("new").c_str(), photos[i].c_str()), 0);
    }
    const pid_t child = startChild(kFolder, {"--cache", cache, dir.path()}, "/dev/null",
                                   io.file("out"), io.file("err"));
    std::this_thread::sleep_for(std::chrono::duration<double>(fraction * reference.seconds));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const ProgramResult next = runProgram(kFolder, {"--cache", cache, dir.path()});
    EXPECT_EQ(next.status, 0);
    EXPECT_EQ(next.out, reference.out);
    EXPECT_FALSE(mentionsCache(next.err)) << next.err;
    keptByKilledRuns += fromCache(next.err);
    kept += " " + std::to_string(fromCache(next.err));
  }
  // New prints are committed in batches as the run goes, not only at its end.
  EXPECT_GT(keptByKilledRuns, 0);
  EXPECT_EQ(fromCache(runProgram(kFolder, {"--cache", cache, dir.path()}).err), 100);
  std::printf("[ measured ] prints kept by the runs killed at 0.3, 0.55, 0.8 of %.1f s:%s\n",
              reference.seconds, kept.c_str());
}

// Photos without a capture time of their own take their file's time as local wall-clock time:
// an undated cat whose file was written a second after the second cat was taken joins them.
TEST(FolderCacheE2E, AnUndatedPhotoIsPlacedByItsFileTimeAmongDatedOnes) {
  ASSERT_EQ(::access("/usr/bin/exiv2", X_OK), 0) << "tools/install-deps.sh exiv2";
  ::setenv("TZ", "CET-1", 1);  // one hour east of UTC, no summer time
  TempDir dir;
  const auto copy = [&](const std::string& name, const std::string& exiv2) {
    writeFile(dir.file(name), readFile(kPhotos + name));
    if (!exiv2.empty()) {
      ASSERT_EQ(runProgram("/usr/bin/exiv2", {"-M", exiv2, dir.file(name)}).status, 0);
    }
  };
  copy("cat_1.jpg", "set Exif.Photo.DateTimeOriginal 2026:12:07 14:00:00");
  copy("cat_2.jpg", "set Xmp.exif.DateTimeOriginal 2026-12-07T14:00:01");
  copy("cat_3.jpg", "");
  copy("coffee_1.jpg", "set Exif.Photo.DateTimeOriginal 2026:12:07 15:00:00");
  const struct timespec times[2] = {{1796648402, 500000000}, {1796648402, 500000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, dir.file("cat_3.jpg").c_str(), times, 0), 0);  // 13:00:02.5 UTC

  const ProgramResult r = runProgram(kFolder, {dir.path()});
  const std::string d = dir.path() + "/";
  EXPECT_EQ(r.out, "path,captureTime,timeSource,timeGroup,group\n" + d +
                       "cat_1.jpg,2026-12-07T14:00:00,exif,1,1\n" + d +
                       "cat_2.jpg,2026-12-07T14:00:01,xmp,1,1\n" + d +
                       "cat_3.jpg,2026-12-07T14:00:02.5+01:00,file,1,1\n" + d +
                       "coffee_1.jpg,2026-12-07T15:00:00,exif,2,2\n");
  EXPECT_TRUE(contains(r.err, ": 4 photos (1 by file time), 0 skipped, 1 series,"));
  const ProgramResult last = runProgram(kFolder, {"--undated", "last", dir.path()});
  EXPECT_TRUE(
      contains(last.out, "coffee_1.jpg,2026-12-07T15:00:00,exif,2,2\n" + d + "cat_3.jpg,,,0,0\n"));
  EXPECT_TRUE(contains(last.err, ": 4 photos (1 undated), 0 skipped, 1 series,"));
}

TEST(CommandLinesE2E, HelpAndVersionForEveryProgramButVeltoFprint) {
  const std::vector<std::pair<std::string, std::string>> programs = {
      {kFolder, "velto-fprint-folder"},
      {kReplay, "velto-fprint-replay"},
      {kEmbed, "velto-fprint-embed"},
      {kReport, "velto-fprint-report"}};
  for (const auto& [program, name] : programs) {
    const ProgramResult help = runProgram(program, {"--help"});
    EXPECT_EQ(help.status, 0) << name;
    EXPECT_EQ(help.out.rfind("usage: " + name + " ", 0), 0u) << help.out;
    EXPECT_TRUE(contains(help.out, "\n  --version "));
    EXPECT_EQ(help.err, "");
    const ProgramResult version = runProgram(program, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind(name + " ", 0), 0u) << version.out;
    EXPECT_EQ(version.out.back(), '\n');
    EXPECT_EQ(version.err, "");
    const ProgramResult wrong = runProgram(program, {"--no-such-option", "a", "b"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err.rfind("usage: " + name + " ", 0), 0u) << wrong.err;
  }
  EXPECT_TRUE(contains(runProgram(kFolder, {"--help"}).out, "\n  --undated file|last "));
  // velto-fprint's two arguments are its contract: --help is just one argument too few.
  EXPECT_EQ(runProgram(kFprint, {"--help"}),
            failure("usage: velto-fprint <input.json> <output.json>"));
}

}  // namespace
}  // namespace velto::testing
