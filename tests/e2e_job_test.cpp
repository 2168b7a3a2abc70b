// The real velto-fprint binary against job files, result paths and its command line.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "testing/test_support.h"

namespace velto::testing {
namespace {

const std::string kFprint = VELTO_FPRINT_BIN;
const std::string kReplay = VELTO_REPLAY_BIN;

class JobFileE2E : public ::testing::Test {
 protected:
  TempDir dir;
  std::string job = dir.file("job.json");
  std::string out = dir.file("out.json");

  ProgramResult run(const std::string& jobBytes) {
    writeFile(job, jobBytes);
    return runProgram(kFprint, {job, out});
  }
  // A failure: the one message line, status 1, empty stdout, nothing at the output path.
  void expectFailure(const ProgramResult& r, const std::string& message) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, message + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(exists(out));
  }
};

TEST_F(JobFileE2E, WrongArgumentCountsPrintUsageAndCreateNothing) {
  const std::string usage = "usage: velto-fprint <input.json> <output.json>\n";
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {job}, {job, out, dir.file("third")}, {job, out, out, out}}) {
    const ProgramResult r = runProgram(kFprint, args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, usage);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_TRUE(listFolder(dir.path()).empty());
}

TEST_F(JobFileE2E, EmptyJobWritesEmptyGroupsWithoutAnalysingAnything) {
  const ProgramResult r = run(R"({"photos":[],"timeGroups":[]})");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(readFile(out), R"({"groups":[]})");
}

TEST_F(JobFileE2E, UnreadableJobPathsGiveCouldNotRead) {
  // A FIFO without writer and /dev/zero must neither hang nor fill memory.
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  ::mkdir(dir.file("folder").c_str(), 0700);
  for (const std::string& path :
       {dir.file("missing.json"), dir.file("folder"), dir.file("fifo"), std::string("/dev/zero")}) {
    const ProgramResult r = runProgram(kFprint, {path, out});
    expectFailure(r, "could not read " + path);
  }
}

TEST_F(JobFileE2E, JobFileWithoutReadPermissionGivesCouldNotRead) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
  writeFile(job, R"({"photos":[],"timeGroups":[]})");
  ::chmod(job.c_str(), 0);
  expectFailure(runProgram(kFprint, {job, out}), "could not read " + job);
}

TEST_F(JobFileE2E, JobLargerThanTheReadLimitGivesCouldNotRead) {
  writeFile(job, "");
  ASSERT_EQ(::truncate(job.c_str(), (int64_t{256} << 20) + 1), 0);  // sparse: no disk used
  expectFailure(runProgram(kFprint, {job, out}), "could not read " + job);
}

TEST_F(JobFileE2E, ContentThatIsNotAJsonObjectNamesThePathAsGiven) {
  for (const std::string& bytes :
       {std::string(""), std::string("[]"), std::string("42"), std::string("\"x\""),
        std::string("{\"photos\":[],}"), std::string("{\"photos\":[],\"timeGroups\":[]} x"),
        std::string("// c\n{}"), std::string("{photos:[]}"), std::string("{\"a\":\"\xff\"}"),
        std::string("{"), std::string("{} {}"),
        std::string("{\"photos\":[\"a\"],\"timeGroups\":[1e400]}"),
        std::string("{\"photos\":[],\"timeGroups\":[]}\0", 30)}) {
    expectFailure(run(bytes), job + " is not a JSON object");
  }
  // Relative paths stay relative in the message.
  writeFile(dir.file("rel.json"), "[1]");
  const ProgramResult r = runProgram(kFprint, {"rel.json", "o.json"}, dir.path());
  EXPECT_EQ(r.err, "rel.json is not a JSON object\n");
}

TEST_F(JobFileE2E, PhotosAreCheckedBeforeTimeGroupsAndLengths) {
  const std::string photos = "\"photos\" missing or not an array of strings";
  for (const std::string& bytes :
       {std::string("{}"), std::string(R"({"photos":"a.jpg","timeGroups":[1]})"),
        std::string(R"({"photos":null,"timeGroups":[]})"),
        std::string(R"({"photos":["a.jpg",3],"timeGroups":[1]})"),
        std::string(R"({"timeGroups":[1]})"),
        std::string(R"({"photos":[1],"timeGroups":[1,2]})")}) {
    expectFailure(run(bytes), photos);
  }
  const std::string timeGroups = "\"timeGroups\" missing or not an array";
  for (const std::string& bytes :
       {std::string(R"({"photos":[]})"), std::string(R"({"photos":["a"],"timeGroups":{}})"),
        std::string(R"({"photos":["a"],"timeGroups":1})")}) {
    expectFailure(run(bytes), timeGroups);
  }
  expectFailure(run(R"({"photos":[],"timeGroups":[1]})"),
                "photos (0) and timeGroups (1) differ in length");
  expectFailure(run(R"({"photos":["a","b","c"],"timeGroups":[1,1]})"),
                "photos (3) and timeGroups (2) differ in length");
}

TEST_F(JobFileE2E, DatedPhotosWithoutAnyPrintFailWithDimsMinusOne) {
  // Missing photos have no print, and undated ones do not count towards a usable one.
  expectFailure(run(R"({"photos":["a.jpg","b.jpg","c.jpg","d.jpg"],"timeGroups":[0,1,1,0]})"),
                "no usable feature print among 4 photos (dims=-1)");
}

TEST_F(JobFileE2E, JobWithoutDatedPhotosSucceedsWithoutPrints) {
  const ProgramResult r = run(R"({"photos":["a","b","c"],"timeGroups":[0,-4,null],"x":{}})");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(out), R"({"groups":[0,0,0]})");
}

TEST_F(JobFileE2E, ResultIntoMissingFolderOrOntoFolderFailsAndCreatesNothing) {
  writeFile(job, R"({"photos":[],"timeGroups":[]})");
  const std::string missing = dir.file("no/such/out.json");
  ProgramResult r = runProgram(kFprint, {job, missing});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "could not write " + missing + ": No such file or directory\n");
  EXPECT_FALSE(exists(dir.file("no")));

  ::mkdir(dir.file("target").c_str(), 0700);
  writeFile(dir.file("target/inside"), "keep");
  r = runProgram(kFprint, {job, dir.file("target")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "could not write " + dir.file("target") + ": Is a directory\n");
  EXPECT_EQ(listFolder(dir.file("target")), std::vector<std::string>{"inside"});
  EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"job.json", "target"}));
}

TEST_F(JobFileE2E, ExistingLongerResultIsReplacedWhole) {
  writeFile(out, std::string(10000, 'x'));
  const ProgramResult r = run(R"({"photos":[],"timeGroups":[]})");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(out), R"({"groups":[]})");
  EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"job.json", "out.json"}));
}

TEST_F(JobFileE2E, SamePathForJobAndResultReadsFirstAndReplacesAtTheEnd) {
  writeFile(job, R"({"photos":["a","b"],"timeGroups":[0,0]})");
  const ProgramResult r = runProgram(kFprint, {job, job});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(job), R"({"groups":[0,0]})");
}

TEST_F(JobFileE2E, NewResultFileGetsModeFromTheUmask) {
  const mode_t old = ::umask(027);  // inherited by the child
  const ProgramResult r = run(R"({"photos":[],"timeGroups":[]})");
  ::umask(old);
  ASSERT_EQ(r.status, 0);
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(JobFileE2E, ReplacedResultKeepsItsPermissionBits) {
  writeFile(out, "{\"groups\":[9]}");
  ::chmod(out.c_str(), 0600);
  const mode_t old = ::umask(022);
  const ProgramResult r = run(R"({"photos":[],"timeGroups":[]})");
  ::umask(old);
  ASSERT_EQ(r.status, 0);
  struct stat st {};
  ASSERT_EQ(::stat(out.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(readFile(out), R"({"groups":[]})");
}

TEST_F(JobFileE2E, ResultPathThatNamesAJobPhotoIsRefusedAndThePhotoKept) {
  // The photo itself, another hard link to it, and the file behind a photo given as a link.
  const std::string photoBytes = readFile(std::string(VELTO_EXAMPLE_PHOTOS) + "/cat_1.jpg");
  writeFile(dir.file("p.jpg"), photoBytes);
  ASSERT_EQ(::link(dir.file("p.jpg").c_str(), dir.file("hard.jpg").c_str()), 0);
  ASSERT_EQ(::symlink("p.jpg", dir.file("soft.jpg").c_str()), 0);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"p.jpg", "p.jpg"}, {"p.jpg", "hard.jpg"}, {"soft.jpg", "p.jpg"}};
  for (const auto& [photo, output] : cases) {
    writeFile(job, jobText({dir.file(photo)}, {1}));
    const ProgramResult r = runProgram(kFprint, {job, dir.file(output)});
    EXPECT_EQ(r.status, 1) << photo << " " << output;
    EXPECT_EQ(r.err, "could not write " + dir.file(output) + ": it is one of the job's photos\n");
    EXPECT_EQ(readFile(dir.file("p.jpg")), photoBytes);
  }
  EXPECT_EQ(listFolder(dir.path()),
            (std::vector<std::string>{"hard.jpg", "job.json", "p.jpg", "soft.jpg"}));
}

TEST_F(JobFileE2E, ResultPathThatIsNoRegularFileIsRefusedUntouched) {
  // Renaming over a FIFO, a socket or a device node would replace the node with a file.
  writeFile(job, R"({"photos":[],"timeGroups":[]})");
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string sockPath = dir.file("sock");
  ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
  std::copy(sockPath.begin(), sockPath.end(), addr.sun_path);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  std::vector<std::pair<std::string, mode_t>> nodes = {{"fifo", S_IFIFO}, {"sock", S_IFSOCK}};
  // A character device like /dev/null, made in this scratch folder (only root may).
  if (::mknod(dir.file("chardev").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) {
    nodes.emplace_back("chardev", S_IFCHR);
  }
  for (const auto& [name, type] : nodes) {
    const ProgramResult r = runProgram(kFprint, {job, dir.file(name)});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.err, "could not write " + dir.file(name) + ": not a regular file\n");
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & S_IFMT, type) << name;
  }
  ::close(sock);
  EXPECT_EQ(listFolder(dir.path()).size(), nodes.size() + 1);
}

TEST_F(JobFileE2E, PhotoPathHoldingAnEscapedNulNamesNoFile) {
  // "a.print\u0000.txt" must not open a.print: the only dated photo then has no print.
  writeFile(dir.file("a.print"), std::string("\x01\0\0\0\0\0\x80\x3f", 8));
  writeFile(dir.file("a.jpg"), readFile(std::string(VELTO_EXAMPLE_PHOTOS) + "/cat_1.jpg"));
  for (const auto& [program, photo] :
       {std::pair{kReplay, dir.file("a.print")}, std::pair{kFprint, dir.file("a.jpg")}}) {
    writeFile(job, "{\"photos\":[\"" + photo + "\\u0000.txt\"],\"timeGroups\":[1]}");
    const ProgramResult r = runProgram(program, {job, out});
    EXPECT_EQ(r.status, 1) << program;
    EXPECT_EQ(r.err, "no usable feature print among 1 photos (dims=-1)\n");
  }
}

TEST_F(JobFileE2E, WriteThatFailsMidwayLeavesOldResultAndNoTemporaryFile) {
  // 3000 undated photos make a result of about 6 KB; the file-size limit of 1 KB stops the
  // write partway, and with SIGXFSZ ignored the write reports EFBIG instead of killing.
  std::vector<std::string> photos(3000, "p.jpg");
  writeFile(job, jobText(photos, std::vector<long long>(3000, 0)));
  const std::string old = "{\"groups\":[7,7,7]} and more bytes of an older result";
  writeFile(out, old);
  const ProgramResult r = runProgram(
      "/bin/sh", {"-c", "ulimit -f 2; trap '' XFSZ; exec \"$0\" \"$1\" \"$2\"", kFprint, job, out});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "could not write " + out + ": File too large\n");
  EXPECT_EQ(readFile(out), old);
  EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"job.json", "out.json"}));
}

TEST_F(JobFileE2E, ReplayNumbersRunsAcrossUndatedAndReturningTimeGroups) {
  // Identical prints score 0 everywhere, so no cut is made and the groups are the runs.
  writeFile(dir.file("same.print"), std::string("\x01\0\0\0\0\0\x80\x3f", 8));
  const std::vector<long long> tg = {3, 3, 5, 3, 0, 3, -2, -2, 7, 7, 1};
  writeFile(job, jobText(std::vector<std::string>(tg.size(), dir.file("same.print")), tg));
  const ProgramResult r = runProgram(kReplay, {job, out});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(out), R"({"groups":[1,1,2,3,0,4,0,0,5,5,6]})");
}

TEST_F(JobFileE2E, TimeGroupEntriesOfEveryJsonTypeAreConverted) {
  writeFile(dir.file("same.print"), std::string("\x01\0\0\0\0\0\x80\x3f", 8));
  const std::string p = "\"" + dir.file("same.print") + "\"";
  std::string photos;
  for (int i = 0; i < 15; ++i) photos += (i ? "," : "") + p;
  // 1, 2, -1, 1, 0, 0, 0, 0, 0, saturated max, 2^64 saturated max, saturated min, 100, 0, 7.
  writeFile(job,
            "{\"timeGroups\":[1,2.9,-1.5,true,false,null,\"3\",[1],{},1e300,"
            "18446744073709551616,-1e300,1e2,-0.0,7],\"photos\":[" +
                photos + "]}");
  const ProgramResult r = runProgram(kReplay, {job, out});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(readFile(out), R"({"groups":[1,2,0,3,0,0,0,0,0,4,4,0,5,0,6]})");
}

}  // namespace
}  // namespace velto::testing
