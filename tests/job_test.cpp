// Job files: time-group numbers at the edges of the 64-bit range, the job fuzzer's seeds and
// findings (fuzz/), and the real velto-fprint against job files, result paths and its command
// line, and the numbering of velto-fprint-replay.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "job/job_file.h"
#include "job/time_group.h"
#include "testing/test_support.h"

namespace velto::testing {
namespace {

// Every seed of the job fuzzer, and whatever it ever found, parses to a consistent answer.
TEST(FuzzRegressionTest, JobSeedsAndFindingsParseConsistently) {
  std::vector<std::string> files;
  for (const std::string folder : {"corpus", "regressions"}) {
    const std::string path = VELTO_FUZZ_DIR "/" + folder + "/job";
    for (const std::string& name : exists(path) ? listFolder(path) : std::vector<std::string>{}) {
      files.push_back(path + "/" + name);
    }
  }
  ASSERT_FALSE(files.empty());
  for (const std::string& path : files) {
    const JobReadResult r = parseJob(readFile(path));
    EXPECT_NE(r.fault, JobFault::kUnreadable) << path;
    EXPECT_TRUE(r.fault != JobFault::kNone || r.job.photos.size() == r.job.timeGroups.size())
        << path;
  }
}

TEST(JobFileTest, NumbersOutsideTheRangeSaturate) {
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  const JobReadResult r =
      parseJob(R"({"photos":["p","p","p","p","p","p","p"],"timeGroups":[1e300, -1e300, )"
               R"(18446744073709551616, 18446744073709551615, 9223372036854775807, )"
               R"(-9223372036854775808, 9223372036854775808]})");
  EXPECT_EQ(r.fault, JobFault::kNone);
  EXPECT_EQ(r.job.timeGroups, (std::vector<int64_t>{kMax, kMin, kMax, kMax, kMax, kMin, kMax}));
  EXPECT_EQ(saturatingTruncate(9223372036854775807.0), kMax);  // rounds to 2^63
  EXPECT_EQ(saturatingTruncate(-9223372036854775808.0), kMin);
  EXPECT_EQ(saturatingTruncate(std::nan("")), 0);
}

const std::string kEmptyJob = R"({"photos":[],"timeGroups":[]})";

class JobFileE2E : public ::testing::Test {
 protected:
  TempDir dir;
  std::string job = dir.file("job.json");
  std::string out = dir.file("out.json");

  ProgramResult run(const std::string& jobBytes, const std::string& program = kFprint) {
    writeFile(job, jobBytes);
    return runProgram(program, {job, out});
  }
};

mode_t modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

TEST_F(JobFileE2E, WrongArgumentCountsPrintUsageAndCreateNothing) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {job}, {job, out, dir.file("third")}, {job, out, out, out}}) {
    EXPECT_EQ(runProgram(kFprint, args), failure("usage: velto-fprint <input.json> <output.json>"));
  }
  EXPECT_TRUE(listFolder(dir.path()).empty());
}

// A FIFO without writer, /dev/zero and a file past the read limit neither hang nor fill memory.
TEST_F(JobFileE2E, UnreadableJobPathsGiveCouldNotRead) {
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  ::mkdir(dir.file("folder").c_str(), 0700);
  writeFile(dir.file("huge.json"), "");
  ASSERT_EQ(::truncate(dir.file("huge.json").c_str(), (int64_t{256} << 20) + 1), 0);  // sparse
  std::vector<std::string> paths = {dir.file("missing.json"), dir.file("folder"), dir.file("fifo"),
                                    "/dev/zero", dir.file("huge.json")};
  if (::geteuid() != 0) {  // root reads any file
    writeFile(dir.file("locked.json"), kEmptyJob);
    ::chmod(dir.file("locked.json").c_str(), 0);
    paths.push_back(dir.file("locked.json"));
  }
  for (const std::string& path : paths) {
    EXPECT_EQ(runProgram(kFprint, {path, out}), failure("could not read " + path));
  }
  EXPECT_FALSE(exists(out));
}

// Text that is not strict UTF-8 JSON, wherever the fault sits, is no JSON object at all, and the
// message names the path as given.
TEST_F(JobFileE2E, ContentThatIsNotAJsonObject) {
  const std::string nul(1, '\0'), empty = "\"photos\":[],\"timeGroups\":[]";
  for (const std::string& bytes : std::vector<std::string>{
           "", "[]", "42", "\"x\"", "{\"photos\":[],}", "{" + empty + "} x", "// c\n{}",
           "{photos:[]}", "{\"a\":\"\xff\"}", "{", "{} {}", "{" + empty + "}" + nul,
           "{\"photos\":[\"a\"],\"timeGroups\":[1e400]}",
           "{\"photos\":[\"\xC0\xAF.jpg\"],\"timeGroups\":[0]}",      // overlong '/'
           "{\"photos\":[\"\xED\xA0\x80.jpg\"],\"timeGroups\":[0]}",  // surrogate
           "{\"photos\":[\"\xF4\x90\x80\x80\"],\"timeGroups\":[0]}",  // > U+10FFFF
           "{\"photos\":[\"a\xE2\x82\"],\"timeGroups\":[0]}",         // cut short
           "{\"photos\":[\"\\ud800.jpg\"],\"timeGroups\":[0]}",       // lone escape
           "{" + empty + "\xFF}", "{\"photos\":[\"a" + nul + "b\"],\"timeGroups\":[0]}",
           nul + "{" + empty + "}", "{\"photos\":[]," + nul + "\"timeGroups\":[]}",
           // One UTF-8 byte-order mark is skipped, but not two, one after a space or UTF-16's.
           "\xEF\xBB\xBF\xEF\xBB\xBF{" + empty + "}", " \xEF\xBB\xBF{" + empty + "}",
           "\xFF\xFE{" + empty + "}"}) {
    EXPECT_EQ(run(bytes), failure(job + " is not a JSON object")) << bytes;
  }
  EXPECT_FALSE(exists(out));
  writeFile(dir.file("rel.json"), "[1]");
  EXPECT_EQ(runProgram(kFprint, {"rel.json", "o.json"}, dir.path()),
            failure("rel.json is not a JSON object"));
}

// What each JSON object gives: its result, or its one message and no result file. Photos are
// checked before time groups, and both before their lengths.
TEST_F(JobFileE2E, JobsGiveTheirResultOrTheirMessage) {
  const std::string photos = "\"photos\" missing or not an array of strings";
  const std::string timeGroups = "\"timeGroups\" missing or not an array";
  struct Case {
    std::string job, message, result = {};
  };
  for (const Case& c : std::vector<Case>{
           {kEmptyJob, "", R"({"groups":[]})"},
           {R"({"photos":["a","b","c"],"timeGroups":[0,-4,null],"x":{}})", "",
            R"({"groups":[0,0,0]})"},
           // Of a key given twice the last one counts, whatever the earlier value was.
           {R"({"photos":["a"],"timeGroups":[1],"photos":["b","c"],"timeGroups":[0,-1]})", "",
            R"({"groups":[0,0]})"},
           {R"({"photos":7,"timeGroups":"x","photos":[],"timeGroups":[]})", "", R"({"groups":[]})"},
           {"\xEF\xBB\xBF{\"photos\":[\"a\"],\"timeGroups\":[0]}", "", R"({"groups":[0]})"},
           // Missing photos have no print, and undated ones do not count towards a usable one.
           {R"({"photos":["a.jpg","b.jpg","c.jpg","d.jpg"],"timeGroups":[0,1,1,0]})",
            "no usable feature print among 4 photos (dims=-1)"},
           {"{}", photos},
           {R"({"photos":"a.jpg","timeGroups":[1]})", photos},
           {R"({"photos":null,"timeGroups":[]})", photos},
           {R"({"photos":["a.jpg",3],"timeGroups":[1]})", photos},
           {R"({"timeGroups":[1]})", photos},
           {R"({"photos":[1],"timeGroups":[1,2]})", photos},
           {R"({"photos":[]})", timeGroups},
           {R"({"photos":["a"],"timeGroups":{}})", timeGroups},
           {R"({"photos":["a"],"timeGroups":1})", timeGroups},
           {R"({"photos":[],"timeGroups":[1]})", "photos (0) and timeGroups (1) differ in length"},
           {R"({"photos":["a","b","c"],"timeGroups":[1,1]})",
            "photos (3) and timeGroups (2) differ in length"}}) {
    EXPECT_EQ(run(c.job), c.message.empty() ? kQuiet : failure(c.message)) << c.job;
    EXPECT_EQ(readFile(out), c.result) << c.job;
    ::unlink(out.c_str());
  }
}

// A new result gets its mode from the umask; a replaced one keeps its own and is replaced whole.
TEST_F(JobFileE2E, ResultModeAndWholeReplacement) {
  const mode_t old = ::umask(027);  // inherited by the child
  EXPECT_EQ(run(kEmptyJob), kQuiet);
  EXPECT_EQ(modeOf(out) & 0777, 0640u);
  writeFile(out, std::string(10000, 'x'));
  ::chmod(out.c_str(), 0604);
  EXPECT_EQ(run(kEmptyJob), kQuiet);
  ::umask(old);
  EXPECT_EQ(modeOf(out) & 0777, 0604u);
  EXPECT_EQ(readFile(out), R"({"groups":[]})");
  EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"job.json", "out.json"}));
}

TEST_F(JobFileE2E, SamePathForJobAndResultReadsFirstAndReplacesAtTheEnd) {
  writeFile(job, R"({"photos":["a","b"],"timeGroups":[0,0]})");
  EXPECT_EQ(runProgram(kFprint, {job, job}), kQuiet);
  EXPECT_EQ(readFile(job), R"({"groups":[0,0]})");
}

TEST_F(JobFileE2E, ResultPathThatNamesAJobPhotoIsRefusedAndThePhotoKept) {
  // The photo itself, another hard link to it, and the file behind a photo given as a link.
  const std::string photoBytes = readFile(kPhotos + "cat_1.jpg");
  writeFile(dir.file("p.jpg"), photoBytes);
  ASSERT_EQ(::link(dir.file("p.jpg").c_str(), dir.file("hard.jpg").c_str()), 0);
  ASSERT_EQ(::symlink("p.jpg", dir.file("soft.jpg").c_str()), 0);
  for (const auto& [photo, output] : std::vector<std::pair<std::string, std::string>>{
           {"p.jpg", "p.jpg"}, {"p.jpg", "hard.jpg"}, {"soft.jpg", "p.jpg"}}) {
    writeJob(job, {dir.file(photo)}, {1});
    EXPECT_EQ(runProgram(kFprint, {job, dir.file(output)}),
              failure("could not write " + dir.file(output) + ": it is one of the job's photos"));
    EXPECT_EQ(readFile(dir.file("p.jpg")), photoBytes);
  }
  EXPECT_EQ(listFolder(dir.path()),
            (std::vector<std::string>{"hard.jpg", "job.json", "p.jpg", "soft.jpg"}));
}

// A result path in a missing folder, or that is a folder, a FIFO, a socket or a device node, is
// refused and everything is left as it was: renaming over a node would replace it with a file.
TEST_F(JobFileE2E, ResultPathsThatCannotTakeAResultAreRefusedUntouched) {
  writeFile(job, kEmptyJob);
  ::mkdir(dir.file("folder").c_str(), 0700);
  writeFile(dir.file("folder/inside"), "keep");
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::mknod(dir.file("sock").c_str(), S_IFSOCK | 0600, 0), 0);
  std::vector<std::pair<std::string, std::string>> cases = {
      {"no/such/out.json", "No such file or directory"},
      {"folder", "Is a directory"},
      {"fifo", "not a regular file"},
      {"sock", "not a regular file"}};
  // A character device like /dev/null, made in this scratch folder (only root may).
  if (::mknod(dir.file("chardev").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) {
    cases.emplace_back("chardev", "not a regular file");
  }
  std::map<std::string, mode_t> types;
  for (const std::string& name : listFolder(dir.path())) types[name] = modeOf(dir.file(name));
  for (const auto& [name, reason] : cases) {
    EXPECT_EQ(runProgram(kFprint, {job, dir.file(name)}),
              failure("could not write " + dir.file(name) + ": " + reason));
  }
  for (const auto& [name, type] : types) EXPECT_EQ(modeOf(dir.file(name)), type) << name;
  EXPECT_EQ(listFolder(dir.path()).size(), types.size());
  EXPECT_EQ(listFolder(dir.file("folder")), std::vector<std::string>{"inside"});
}

TEST_F(JobFileE2E, PhotoPathHoldingAnEscapedNulNamesNoFile) {
  // "a.print\u0000.txt" must not open a.print: the only dated photo then has no print.
  writeFile(dir.file("a.print"), kUnitPrint);
  writeFile(dir.file("a.jpg"), readFile(kPhotos + "cat_1.jpg"));
  for (const auto& [program, photo] :
       {std::pair{kReplay, dir.file("a.print")}, std::pair{kFprint, dir.file("a.jpg")}}) {
    EXPECT_EQ(run("{\"photos\":[\"" + photo + "\\u0000.txt\"],\"timeGroups\":[1]}", program),
              failure("no usable feature print among 1 photos (dims=-1)"));
  }
}

TEST_F(JobFileE2E, WriteThatFailsMidwayLeavesOldResultAndNoTemporaryFile) {
  // 3000 undated photos make a result of about 6 KB; the file-size limit of 1 KB stops the
  // write partway, and with SIGXFSZ ignored the write reports EFBIG instead of killing.
  writeJob(job, std::vector<std::string>(3000, "p.jpg"), std::vector<long long>(3000, 0));
  const std::string old = "{\"groups\":[7,7,7]} and more bytes of an older result";
  writeFile(out, old);
  EXPECT_EQ(runProgram("/bin/sh", {"-c", "ulimit -f 2; trap '' XFSZ; exec \"$0\" \"$1\" \"$2\"",
                                   kFprint, job, out}),
            failure("could not write " + out + ": File too large"));
  EXPECT_EQ(readFile(out), old);
  EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"job.json", "out.json"}));
}

// Identical prints score 0 everywhere, so nothing is cut and the groups are the runs: undated
// photos and returning time groups, with entries of every JSON type converted.
TEST_F(JobFileE2E, ReplayNumbersTheRunsOfTimeGroups) {
  writeFile(dir.file("same.print"), kUnitPrint);
  const std::string p = "\"" + dir.file("same.print") + "\"";
  for (const auto& [timeGroups, groups] : std::vector<std::pair<std::string, std::string>>{
           {"[3,3,5,3,0,3,-2,-2,7,7,1]", "[1,1,2,3,0,4,0,0,5,5,6]"},
           // 1, 2, -1, 1, 0, 0, 0, 0, 0, saturated max, 2^64 saturated max, saturated min, 100,
           // 0, 7.
           {"[1,2.9,-1.5,true,false,null,\"3\",[1],{},1e300,18446744073709551616,-1e300,1e2,-0.0,"
            "7]",
            "[1,2,0,3,0,0,0,0,0,4,4,0,5,0,6]"}}) {
    std::string photos = p;
    for (auto n = std::count(groups.begin(), groups.end(), ','); n > 0; --n) photos += "," + p;
    EXPECT_EQ(run("{\"timeGroups\":" + timeGroups + ",\"photos\":[" + photos + "]}", kReplay),
              kQuiet);
    EXPECT_EQ(readFile(out), "{\"groups\":" + groups + "}");
  }
}

}  // namespace
}  // namespace velto::testing
