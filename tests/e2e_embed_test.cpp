// The real velto-fprint and velto-fprint-embed on real photos, and on the formats of a camera
// roll beyond JPEG, each made at test time from a real photo with Debian's own tools
// (ImageMagick, cjxl, img2webp) or velto-make-dng.
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "embedding/embedding_recipe.h"
#include "testing/test_support.h"

namespace velto::testing {
namespace {

const std::string kExampleGroups = R"({"groups":[1,1,1,2,2,2,3,3,4,4]})";

// The prints velto-fprint-embed writes for `photos`, in order; empty for a photo without one.
std::vector<std::vector<float>> embed(const TempDir& dir, const std::vector<std::string>& photos) {
  const ProgramResult r = runProgram(
      kEmbed, {writeJob(dir.file("job.json"), photos, std::vector<long long>(photos.size(), 1)),
               dir.file("prints")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::vector<std::vector<float>> prints;
  for (const Listed& l : embedListing(r.out)) prints.push_back(readPrint(l.printFile));
  EXPECT_EQ(prints.size(), photos.size()) << r.out;
  return prints;
}

// A HEIC whose primary image is turned 180 degrees by its irot property while its thumbnail
// of the same stored pixels is not: the print is that of the upright photo, not of the
// upside-down thumbnail.
TEST(EmbedE2E, HeicTurnedUnlikeItsThumbnailGetsTheUprightPrint) {
  TempDir dir;
  const auto prints = embed(dir, {kPhotos + "astronaut_1.jpg",
                                  kImages + "photo/astronaut_1-turned-3-thumbnail-unturned.heic"});
  ASSERT_EQ(prints[0].size(), prints[1].size());
  EXPECT_GT(printCosine(prints[0], prints[1]), 0.95);
  std::printf("[ measured ] cosine to the upright print: %.3f\n",
              printCosine(prints[0], prints[1]));
}

TEST(EmbedE2E, ExampleJobSplitsEachTimeGroupAtTheChangeOfSubject) {
  // Bursts of one subject stay together; two subjects in one time group are split.
  TempDir dir;
  EXPECT_EQ(runProgram(kFprint, {"job.json", dir.file("out.json")}, kExamples), kQuiet);
  EXPECT_EQ(readFile(dir.file("out.json")), kExampleGroups);
}

// Stored prints replay to velto-fprint's groups, also after a second job in the same folder
// that lacks photos the first had: their old prints must go.
TEST(EmbedE2E, StoredPrintsReplayToTheSameGroups) {
  TempDir dir;
  const std::string prints = dir.file("prints");
  const auto replaysLikeFprint = [&](const std::string& job, const std::string& workDir) {
    ASSERT_EQ(runProgram(kReplay, {prints + "/job.json", dir.file("replayed.json")}).status, 0);
    ASSERT_EQ(runProgram(kFprint, {job, dir.file("direct.json")}, workDir).status, 0);
    EXPECT_EQ(readFile(dir.file("replayed.json")), readFile(dir.file("direct.json")));
  };
  ProgramResult r = runProgram(kEmbed, {"job.json", prints}, kExamples);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(contains(r.out, prints + "/000009.print\t" + std::to_string(kPrintLength) +
                                  "\tphotos/rocket_2.jpg\n"));
  replaysLikeFprint("job.json", kExamples);
  const std::string gone = dir.file("gone.jpg");
  const std::string second =
      writeJob(dir.file("second.json"),
               {kPhotos + "cat_1.jpg", gone, kPhotos + "cat_3.jpg", gone, kPhotos + "coffee_2.jpg"},
               {1, 1, 1, 1, 1});
  r = runProgram(kEmbed, {second, prints});
  EXPECT_TRUE(contains(r.out, prints + "/000001.print\t0\t" + gone + "\n"));
  EXPECT_FALSE(exists(prints + "/000001.print"));
  EXPECT_FALSE(exists(prints + "/000003.print"));
  replaysLikeFprint(second, "");
}

// As many photos in flight as the processors the program may use (taskset narrows them): the
// listing, every print file and the groups are the same bytes on one processor and on all.
// HEICs between the JPEGs are decoded with the standard streams silenced while other photos
// are listed, so a listing line lost to the silence shows too.
TEST(EmbedE2E, OneProcessorOrAllGiveTheSameBytes) {
  if (::access("/usr/bin/taskset", X_OK) != 0) GTEST_SKIP() << "needs taskset (util-linux)";
  TempDir dir;
  const std::string heic = kImages + "photo/cat_2.heic";
  std::vector<std::string> photos;
  std::vector<long long> groups;
  for (const std::string& name : listFolder(kPhotos)) {
    for (const std::string& photo : {kPhotos + name, heic, heic}) {
      photos.push_back(photo);
      groups.push_back(name[1] == 'o' ? 2 : 1);  // the coffee photos apart
    }
  }
  photos.push_back(dir.file("missing.jpg"));
  groups.push_back(1);
  const std::string job = writeJob(dir.file("job.json"), photos, groups);
  std::string listing[2], prints[2];
  const char* cpus[2] = {"0", "0-1023"};
  for (int run = 0; run < 2; ++run) {
    const std::string folder = dir.file("prints" + std::to_string(run));
    ProgramResult r = runProgram("/usr/bin/taskset", {"-c", cpus[run], kEmbed, job, folder});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (size_t at = 0; (at = r.out.find(folder, at)) != std::string::npos;) {
      r.out.replace(at, folder.size(), "F");
    }
    listing[run] = r.out;
    for (const std::string& name : listFolder(folder)) {
      prints[run] += name + ":" + (name == "job.json" ? "" : readFile(folder + "/" + name)) + "\n";
    }
    r = runProgram("/usr/bin/taskset", {"-c", cpus[run], kFprint, job,
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
  if (::geteuid() != 0 || runAsNobody({"/usr/bin/test", "-r", kPhotos + "cat_1.jpg"}).status != 0) {
    GTEST_SKIP() << "needs root, and the examples readable by user 65534";
  }
  TempDir dir;
  ::chmod(dir.path().c_str(), 0777);
  EXPECT_EQ(
      runAsNobody({"/usr/bin/prlimit", "--nproc=1", kFprint, "job.json", dir.file("out.json")},
                  kExamples),
      kQuiet);
  EXPECT_EQ(readFile(dir.file("out.json")), kExampleGroups);
}

// libde265 reads memory it never wrote on this damaged HEIC; whatever the heap held before
// (filled with another byte in each run), the print must come out the same.
TEST(EmbedE2E, DamagedHeicGivesTheSamePrintWhateverTheHeapHeld) {
  TempDir dir;
  const std::string job =
      writeJob(dir.file("job.json"), {kImages + "damaged/heic-reading-unwritten-memory.heic"}, {1});
  std::vector<std::string> prints;
  for (const std::string fill : {"1", "200"}) {
    const std::string folder = dir.file("prints-" + fill);
    const ProgramResult r =
        runProgram("/usr/bin/env", {"MALLOC_PERTURB_=" + fill, kEmbed, job, folder});
    ASSERT_EQ(r.status, 0) << r.err;
    prints.push_back(readFile(folder + "/000000.print"));
  }
  EXPECT_FALSE(prints[0].empty());
  EXPECT_EQ(prints[0], prints[1]);
}

struct Format {
  std::string file;     // made in the test folder
  std::string command;  // a shell command run there; $SRC is the photo, $OTHER a second one
  size_t headerAt;      // where four bytes of its header are flipped to damage it
};

// Every format gets a print close to the photo's JPEG print, upright (the photo is landscape, so
// a picture left on its side prints far from it); cut or corrupted copies get none; all quietly.
TEST(FormatsE2E, EachFormatPrintsLikeTheJpegUprightAndDamagedCopiesGetNone) {
  const std::vector<Format> formats = {
      {"plain.gif", "convert $SRC plain.gif", 6},  // the screen's size
      {"animated.gif", "convert $SRC $OTHER -resize 399x266! animated.gif", 6},
      {"animated.webp",  // the RIFF size
       "convert $SRC a.png && convert $OTHER -resize 399x266! b.png && "
       "img2webp -loop 0 a.png b.png -o animated.webp",
       4},
      {"transcoded.jxl", "cjxl $SRC transcoded.jxl", 2},  // JPEG bytes kept for reconstruction
      {"pixels.jxl", "convert $SRC c.png && cjxl -d 1 c.png pixels.jxl", 2},
      {"rle8.bmp", "convert $SRC -colors 256 -compress RLE bmp3:rle8.bmp", 18},  // the width
      // Stored on its side with an Orientation tag that stands it up.
      {"float-turned.tiff",
       "convert $SRC -rotate -90 -orient RightTop -depth 32 "
       "-define quantum:format=floating-point -compress zip -define tiff:predictor=1 "
       "float-turned.tiff",
       4},  // the first directory's offset
      {"16bit.tiff", "convert $SRC -depth 16 16bit.tiff", 4},
      {"android-turned.dng", "$MAKE_DNG $SRC android-turned.dng --orientation 6", 4},
      {"preview-turned.dng", "$MAKE_DNG $SRC preview-turned.dng --orientation 8 --preview", 4},
  };
  TempDir dir;
  std::vector<std::string> photos = {kPhotos + "cat_1.jpg"}, damaged;
  for (const Format& f : formats) {
    const std::string script = "SRC=" + photos[0] + " OTHER=" + kPhotos +
                               "coffee_1.jpg MAKE_DNG=" + VELTO_MAKE_DNG_BIN +
                               " PATH=/usr/bin:/bin; " + f.command;
    const ProgramResult r = runProgram("/bin/sh", {"-c", script}, dir.path());
    ASSERT_EQ(r.status, 0) << f.command << ": " << r.err;
    photos.push_back(dir.file(f.file));
    const std::string bytes = readFile(dir.file(f.file));
    ASSERT_GT(bytes.size(), f.headerAt + 4);
    std::string flipped = bytes;
    for (size_t i = f.headerAt; i < f.headerAt + 4; ++i)
      flipped[i] = static_cast<char>(~flipped[i]);
    for (const auto& [how, content] : std::vector<std::pair<std::string, std::string>>{
             {"half", bytes.substr(0, bytes.size() / 2)},
             {"short", bytes.substr(0, bytes.size() - 16)},
             {"flipped", flipped}}) {
      damaged.push_back(dir.file(how + "-" + f.file));
      writeFile(damaged.back(), content);
    }
  }
  const size_t formatCount = photos.size();
  photos.insert(photos.end(), damaged.begin(), damaged.end());
  const std::vector<std::vector<float>> prints = embed(dir, photos);
  ASSERT_EQ(prints.size(), photos.size());
  ASSERT_EQ(static_cast<int64_t>(prints[0].size()), kPrintLength);
  for (size_t i = 1; i < formatCount; ++i) {
    ASSERT_EQ(prints[i].size(), prints[0].size()) << photos[i];
    const double c = printCosine(prints[0], prints[i]);
    EXPECT_GE(c, 0.95) << photos[i];
    std::printf("[ measured ] %-20s cosine %.4f\n", formats[i - 1].file.c_str(), c);
  }
  for (size_t i = formatCount; i < photos.size(); ++i) EXPECT_TRUE(prints[i].empty()) << photos[i];
}

}  // namespace
}  // namespace velto::testing
