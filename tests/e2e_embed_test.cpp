// The real velto-fprint and velto-fprint-embed on real photos.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "embedding/embedding_recipe.h"
#include "testing/test_support.h"

namespace velto::testing {
namespace {

const std::string kFprint = VELTO_FPRINT_BIN;
const std::string kReplay = VELTO_REPLAY_BIN;
const std::string kEmbed = VELTO_EMBED_BIN;
const std::string kExamples = VELTO_EXAMPLES;

// The floats of a print file written by velto-fprint-embed (element type 1).
std::vector<float> readPrint(const std::string& path) {
  const std::string bytes = readFile(path);
  std::vector<float> v((bytes.size() - 4) / 4);
  std::memcpy(v.data(), bytes.data() + 4, v.size() * 4);
  return v;
}

// A HEIC whose primary image is turned 180 degrees by its irot property while its thumbnail
// of the same stored pixels is not: the print is that of the upright photo, not of the
// upside-down thumbnail.
TEST(EmbedE2E, HeicTurnedUnlikeItsThumbnailGetsTheUprightPrint) {
  TempDir dir;
  const std::string photo = kExamples + "/photos/astronaut_1.jpg";
  // astronaut_1.jpg stored upside down, thumbnail 320 x 320 (tests/data/images/README.md).
  const std::string turned =
      std::string(VELTO_TEST_DATA) + "/images/photo/astronaut_1-turned-3-thumbnail-unturned.heic";
  writeFile(dir.file("job.json"), jobText({photo, turned}, {1, 1}));
  const ProgramResult r = runProgram(kEmbed, {dir.file("job.json"), dir.file("prints")});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<float> reference = readPrint(dir.file("prints/000000.print"));
  const std::vector<float> print = readPrint(dir.file("prints/000001.print"));
  ASSERT_EQ(reference.size(), print.size());
  EXPECT_GT(printCosine(reference, print), 0.95);
  std::printf("[ measured ] cosine to the upright print: %.3f\n", printCosine(reference, print));
}

TEST(EmbedE2E, ExampleJobSplitsEachTimeGroupAtTheChangeOfSubject) {
  // Bursts of one subject stay together; two subjects in one time group are split.
  TempDir dir;
  const ProgramResult r = runProgram(kFprint, {"job.json", dir.file("out.json")}, kExamples);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(readFile(dir.file("out.json")), R"({"groups":[1,1,1,2,2,2,3,3,4,4]})");
}

TEST(EmbedE2E, BrokenPhotosAreSkippedSilently) {
  // A truncated JPEG, a text file named .jpg and a missing file inside the cat series: they
  // get no print, the series around them still forms one group, and nothing is printed.
  TempDir dir;
  const std::string cat = readFile(kExamples + "/photos/cat_1.jpg");
  writeFile(dir.file("cut.jpg"), cat.substr(0, 3000));
  writeFile(dir.file("text.jpg"), "not an image\n");
  const std::string p = kExamples + "/photos/";
  writeFile(dir.file("job.json"),
            jobText({p + "cat_1.jpg", dir.file("cut.jpg"), p + "cat_2.jpg", dir.file("text.jpg"),
                     dir.file("missing.jpg"), p + "cat_3.jpg", p + "coffee_1.jpg",
                     p + "coffee_2.jpg", p + "coffee_3.jpg"},
                    {5, 5, 5, 5, 5, 5, 5, 5, 5}));
  const ProgramResult r = runProgram(kFprint, {dir.file("job.json"), dir.file("out.json")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(dir.file("out.json")), R"({"groups":[1,1,1,1,1,1,2,2,2]})");
}

TEST(EmbedE2E, StoredPrintsReplayToTheSameGroups) {
  TempDir dir;
  const std::string prints = dir.file("prints");
  ProgramResult r = runProgram(kEmbed, {"job.json", prints}, kExamples);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string length = std::to_string(kPrintLength);
  EXPECT_NE(r.out.find(prints + "/000009.print\t" + length + "\tphotos/rocket_2.jpg\n"),
            std::string::npos)
      << r.out;
  r = runProgram(kReplay, {prints + "/job.json", dir.file("replayed.json")});
  ASSERT_EQ(r.status, 0) << r.err;
  r = runProgram(kFprint, {"job.json", dir.file("direct.json")}, kExamples);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(dir.file("replayed.json")), readFile(dir.file("direct.json")));
}

TEST(EmbedE2E, EmbedReportsPhotosWithoutPrint) {
  TempDir dir;
  writeFile(dir.file("job.json"), jobText({dir.file("missing.jpg")}, {1}));
  const ProgramResult r = runProgram(kEmbed, {dir.file("job.json"), dir.file("prints")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, dir.file("prints") + "/000000.print\t0\t" + dir.file("missing.jpg") + "\n");
  EXPECT_FALSE(exists(dir.file("prints/000000.print")));
  EXPECT_TRUE(exists(dir.file("prints/job.json")));
}

TEST(EmbedE2E, SecondJobInAUsedPrintFolderReplaysLikeTheProgram) {
  // The first job leaves a print for every photo; the second lacks two of them, and the
  // folder's job must then replay to velto-fprint's groups, not to the earlier prints.
  TempDir dir;
  const std::string p = std::string(VELTO_EXAMPLE_PHOTOS) + "/";
  const std::vector<std::string> first = {p + "cat_1.jpg", p + "cat_2.jpg", p + "cat_3.jpg",
                                          p + "coffee_1.jpg", p + "coffee_2.jpg"};
  const std::vector<std::string> second = {p + "cat_1.jpg", dir.file("gone.jpg"), p + "cat_3.jpg",
                                           dir.file("gone.jpg"), p + "coffee_2.jpg"};
  const std::string prints = dir.file("prints");
  writeFile(dir.file("first.json"), jobText(first, {1, 1, 1, 1, 1}));
  ASSERT_EQ(runProgram(kEmbed, {dir.file("first.json"), prints}).status, 0);
  ASSERT_TRUE(exists(prints + "/000001.print"));
  writeFile(dir.file("second.json"), jobText(second, {1, 1, 1, 1, 1}));
  ASSERT_EQ(runProgram(kEmbed, {dir.file("second.json"), prints}).status, 0);
  EXPECT_FALSE(exists(prints + "/000001.print"));
  EXPECT_FALSE(exists(prints + "/000003.print"));
  ASSERT_EQ(runProgram(kReplay, {prints + "/job.json", dir.file("replayed.json")}).status, 0);
  ASSERT_EQ(runProgram(kFprint, {dir.file("second.json"), dir.file("direct.json")}).status, 0);
  EXPECT_EQ(readFile(dir.file("replayed.json")), readFile(dir.file("direct.json")));
}

// As many photos in flight as the processors the program may use (taskset narrows them): the
// listing, every print file and the groups are the same bytes on one processor and on all.
// HEICs between the JPEGs are decoded with the standard streams silenced while other photos
// are listed, so a listing line lost to the silence shows too.
TEST(EmbedE2E, OneProcessorOrAllGiveTheSameBytes) {
  if (::access("/usr/bin/taskset", X_OK) != 0) GTEST_SKIP() << "needs taskset (util-linux)";
  TempDir dir;
  const std::string heic = std::string(VELTO_TEST_DATA) + "/images/photo/cat_2.heic";
  std::vector<std::string> photos;
  std::vector<long long> groups;
  for (const std::string& name : listFolder(kExamples + "/photos")) {
    for (const std::string& photo : {kExamples + "/photos/" + name, heic, heic}) {
      photos.push_back(photo);
      groups.push_back(name[1] == 'o' ? 2 : 1);  // the coffee photos apart
    }
  }
  photos.push_back(dir.file("missing.jpg"));
  groups.push_back(1);
  writeFile(dir.file("job.json"), jobText(photos, groups));

  std::string listing[2], prints[2];
  const char* cpus[2] = {"0", "0-1023"};
  for (int run = 0; run < 2; ++run) {
    const std::string folder = dir.file("prints" + std::to_string(run));
    ProgramResult r =
        runProgram("/usr/bin/taskset", {"-c", cpus[run], kEmbed, dir.file("job.json"), folder});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (size_t at = 0; (at = r.out.find(folder, at)) != std::string::npos;) {
      r.out.replace(at, folder.size(), "F");
    }
    listing[run] = r.out;
    for (const std::string& name : listFolder(folder)) {
      prints[run] += name + ":" + (name == "job.json" ? "" : readFile(folder + "/" + name)) + "\n";
    }
    r = runProgram("/usr/bin/taskset", {"-c", cpus[run], kFprint, dir.file("job.json"),
                                        dir.file("out" + std::to_string(run) + ".json")});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  EXPECT_EQ(std::count(listing[0].begin(), listing[0].end(), '\n'), 31);
  EXPECT_EQ(listing[1], listing[0]);
  EXPECT_EQ(prints[1], prints[0]);
  EXPECT_EQ(readFile(dir.file("out1.json")), readFile(dir.file("out0.json")));
}

// Where the system refuses the network's helper threads (here: a user allowed one process in
// all), the run still succeeds, quietly, with the same groups.
TEST(EmbedE2E, RefusedThreadsGiveTheSameGroups) {
  if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0 ||
      ::access("/usr/bin/prlimit", X_OK) != 0) {
    GTEST_SKIP() << "needs root, setpriv and prlimit to run as a user limited to one process";
  }
  TempDir dir;
  ::chmod(dir.path().c_str(), 0777);
  const std::vector<std::string> asNobody = {"--reuid=65534", "--regid=65534", "--clear-groups",
                                             "/usr/bin/prlimit", "--nproc=1"};
  auto args = asNobody;
  args.insert(args.end(), {"/usr/bin/test", "-r", "photos/cat_1.jpg"});
  if (runProgram("/usr/bin/setpriv", args, kExamples).status != 0) {
    GTEST_SKIP() << "the examples are not readable by user 65534";
  }
  args = asNobody;
  args.insert(args.end(), {kFprint, "job.json", dir.file("out.json")});
  const ProgramResult r = runProgram("/usr/bin/setpriv", args, kExamples);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(dir.file("out.json")), R"({"groups":[1,1,1,2,2,2,3,3,4,4]})");
}

// libde265 reads memory it never wrote on this damaged HEIC; whatever the heap held before
// (filled with another byte in each run), the print must come out the same.
TEST(EmbedE2E, DamagedHeicGivesTheSamePrintWhateverTheHeapHeld) {
  TempDir dir;
  const std::string photo = std::string(VELTO_TEST_DATA) +
                            "/images/damaged/heic-reading-unwritten-memory.heic";
  writeFile(dir.file("job.json"), jobText({photo}, {1}));
  std::vector<std::string> prints;
  for (const std::string fill : {"1", "200"}) {
    const std::string folder = dir.file("prints-" + fill);
    const ProgramResult r = runProgram(
        "/usr/bin/env", {"MALLOC_PERTURB_=" + fill, kEmbed, dir.file("job.json"), folder});
    ASSERT_EQ(r.status, 0) << r.err;
    prints.push_back(readFile(folder + "/000000.print"));
  }
  EXPECT_FALSE(prints[0].empty());
  EXPECT_EQ(prints[0], prints[1]);
}

}  // namespace
}  // namespace velto::testing
