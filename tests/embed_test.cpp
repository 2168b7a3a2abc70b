// The built-in network and the prints it gives: agreement with the original network, stable
// bits, and the same picture giving nearly the same print whatever its file format or stored
// orientation. And the real velto-fprint and velto-fprint-embed on real photos, and on the
// formats of a camera roll beyond JPEG, each made at test time from a real photo with Debian's
// own tools (ImageMagick, cjxl, img2webp) or velto-make-dng.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "embedding/embedding_analysis.h"
#include "embedding/embedding_recipe.h"
#include "embedding/gradient_layout.h"
#include "embedding/luma_equalisation.h"
#include "image/image_decode.h"
#include "image/pixel_ops.h"
#include "prints/feature_prints.h"
#include "prints/replay_analysis.h"
#include "testing/test_support.h"

namespace velto::testing {
namespace {

TEST(EmbeddingNetworkTest, ReproducesTheOriginalNetwork) {
  EmbeddingNetwork network;
  ASSERT_TRUE(network.ready());
  // Vectors recorded from the original framework on 224 x 224 photos (see data/net/README.md).
  std::ifstream reference(std::string(VELTO_TEST_DATA) + "/net/reference.txt");
  int checked = 0;
  for (std::string line, name; std::getline(reference, line);) {
    std::istringstream fields(line);
    fields >> name;
    std::vector<double> want;
    for (double x; fields >> x;) want.push_back(x);
    // The network proper, on the plain input (the print feeds it the equalised one).
    const auto image = decodeImage(std::string(VELTO_TEST_DATA) + "/net/" + name, 224);
    ASSERT_TRUE(image.has_value()) << name;
    const auto got = std::optional(network.pooledFeatures(networkInput(*image)));
    ASSERT_EQ(got->size(), want.size()) << name;
    const std::vector<double> gotWide(got->begin(), got->end());
    EXPECT_LT(cv::norm(want, gotWide, cv::NORM_INF) / cv::norm(want, cv::NORM_INF), 1e-4) << name;
    ++checked;
  }
  EXPECT_EQ(checked, 3);
}

TEST(EmbeddingPrintTest, PrintIsUnitLengthBeforeTheConstant) {
  const std::optional<FeaturePrint> print = EmbeddingAnalysis().featurePrint(kPhotos + "cat_1.jpg");
  ASSERT_TRUE(print.has_value());
  EXPECT_EQ(print->recipe, kPrintRecipe);
  const FeatureVector v = decodePrint(*print);
  ASSERT_EQ(static_cast<int64_t>(v.size()), kPrintLength);
  EXPECT_EQ(v.back(), kPrintConstant);
  // Each component has unit length before it is weighted, whatever the photo: the balance of
  // content, colour and edges is the same for every print.
  const int64_t ends[3] = {kPooledFeatures, kPooledFeatures + kColourFeatures, kPrintLength - 1};
  const double weights[3] = {1.0, kColourWeight, kGradientWeight};
  const double total = 1.0 + weights[1] * weights[1] + weights[2] * weights[2];
  for (int part = 0, k = 0; part < 3; ++part) {
    double squares = 0;
    for (; k < ends[part]; ++k) squares += double{v[k]} * v[k];
    EXPECT_NEAR(squares, weights[part] * weights[part] / total, 1e-5) << part;
  }
}

// The network input is the area mean of the decoded picture, as OpenCV's INTER_AREA defines it;
// only the rounding of a sum that lands next to half a level may differ.
TEST(NetworkInputTest, AreaShrinkAgreesWithOpenCv) {
  cv::RNG rng(11);
  for (const cv::Size size : {cv::Size(500, 375), cv::Size(375, 500), cv::Size(448, 448),
                              cv::Size(225, 224), cv::Size(1001, 767), cv::Size(224, 3000)}) {
    cv::Mat picture(size, CV_8UC3);
    rng.fill(picture, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(picture, picture, cv::Size(5, 5), 1.5);
    cv::Mat want;
    cv::resize(picture, want, cv::Size(224, 224), 0, 0, cv::INTER_AREA);
    const cv::Mat got = shrinkByArea(picture, 224, 224);
    ASSERT_EQ(got.size(), cv::Size(224, 224));
    EXPECT_LE(cv::norm(got, want, cv::NORM_INF), 1) << size;
    EXPECT_LT(cv::norm(got, want, cv::NORM_L1), 224 * 224 / 100) << size;  // few differ
  }
  // A flat colour stays exactly that colour, also at the clipped last columns and rows.
  const cv::Scalar colour(255, 7, 128);
  EXPECT_EQ(cv::norm(shrinkByArea(cv::Mat(377, 501, CV_8UC3, colour), 224, 224),
                     cv::Mat(224, 224, CV_8UC3, colour), cv::NORM_INF),
            0);
}

TEST(EmbeddingPrintTest, ColourLayoutCountsEachQuadrantInItsOwnBlock) {
  // Four flat quadrants whose levels sit on both sides of the bin edges (64, 128, 192) and at
  // the ends of the range, given as the network sees them (level / 255).
  const int side = static_cast<int>(kNetworkInputSide), half = side / 2;
  cv::Mat rgb8(side, side, CV_8UC3);
  rgb8(cv::Rect(0, 0, half, half)).setTo(cv::Scalar(63, 64, 255));        // bins 0 1 3
  rgb8(cv::Rect(half, 0, half, half)).setTo(cv::Scalar(64, 127, 128));    // bins 1 1 2
  rgb8(cv::Rect(0, half, half, half)).setTo(cv::Scalar(191, 192, 0));     // bins 2 3 0
  rgb8(cv::Rect(half, half, half, half)).setTo(cv::Scalar(255, 255, 0));  // bins 3 3 0
  const std::vector<float> colour = colourLayout(networkInput(rgb8));
  ASSERT_EQ(static_cast<int64_t>(colour.size()), kColourFeatures);
  std::vector<float> want(colour.size(), 0.0f);
  for (const int bin : {0 * 64 + 0 * 16 + 1 * 4 + 3, 1 * 64 + 1 * 16 + 1 * 4 + 2,
                        2 * 64 + 2 * 16 + 3 * 4 + 0, 3 * 64 + 3 * 16 + 3 * 4 + 0}) {
    want[bin] = 0.25f;
  }
  EXPECT_EQ(colour, want);

  // Turned upside down the picture has the same colours in other places: another layout.
  cv::Mat turned;
  cv::flip(rgb8, turned, -1);
  EXPECT_NE(colourLayout(networkInput(turned)), colour);
  EXPECT_TRUE(colourLayout(cv::Mat(side, side, CV_8UC3, cv::Scalar(1, 2, 3))).empty());
  EXPECT_TRUE(colourLayout(cv::Mat(side / 2, side / 2, CV_32FC3, cv::Scalar(0.5f))).empty());
}

const std::string kExampleGroups = R"({"groups":[1,1,1,2,2,2,3,3,4,4]})";

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

// As many photos in flight as the processors the program may use (taskset narrows them), and
// the heap filled with another byte in each run: the listing, every print file and the groups
// are the same bytes on one processor and on all. HEICs between the JPEGs are decoded with the
// standard streams silenced while other photos are listed, so a listing line lost to the
// silence shows too; libde265 reads memory it never wrote on the damaged one.
TEST(EmbedE2E, OneProcessorOrAllAndAnyHeapGiveTheSameBytes) {
  if (::access("/usr/bin/taskset", X_OK) != 0) GTEST_SKIP() << "needs taskset (util-linux)";
  TempDir dir;
  const std::string heic = kImages + "photo/cat_2.heic";
  const std::string damaged = kImages + "damaged/heic-reading-unwritten-memory.heic";
  std::vector<std::string> photos = {damaged, dir.file("missing.jpg")};
  std::vector<long long> groups = {1, 1};
  for (const std::string& name : listFolder(kPhotos)) {
    for (const std::string& photo : {kPhotos + name, heic, heic}) {
      photos.push_back(photo);
      groups.push_back(name[1] == 'o' ? 2 : 1);  // the coffee photos apart
    }
  }
  const std::string job = writeJob(dir.file("job.json"), photos, groups);
  std::string listing[2], prints[2];
  const char* cpus[2] = {"0", "0-1023"};
  for (int run = 0; run < 2; ++run) {
    const std::string folder = dir.file("prints" + std::to_string(run));
    const std::string heap = "MALLOC_PERTURB_=" + std::to_string(1 + 199 * run);
    ProgramResult r = runProgram("/usr/bin/env",
                                 {heap, "/usr/bin/taskset", "-c", cpus[run], kEmbed, job, folder});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (size_t at = 0; (at = r.out.find(folder, at)) != std::string::npos;) {
      r.out.replace(at, folder.size(), "F");
    }
    listing[run] = r.out;
    for (const std::string& name : listFolder(folder)) {
      prints[run] += name + ":" + (name == "job.json" ? "" : readFile(folder + "/" + name)) + "\n";
    }
    r = runProgram("/usr/bin/env", {heap, "/usr/bin/taskset", "-c", cpus[run], kFprint, job,
                                    dir.file("out" + std::to_string(run))});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  EXPECT_EQ(std::count(listing[0].begin(), listing[0].end(), '\n'), 32);
  EXPECT_TRUE(contains(listing[0], "\t" + std::to_string(kPrintLength) + "\t" + damaged + "\n"));
  EXPECT_EQ(listing[1], listing[0]);
  EXPECT_EQ(prints[1], prints[0]);
  EXPECT_EQ(readFile(dir.file("out1")), readFile(dir.file("out0")));
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

// Cosine of two print files' embeddings proper: their constant last element, which would lift
// every score, left out.
double printCosine(const std::string& fileA, const std::string& fileB) {
  const FeatureVector a = decodePrint(*parsePrintFile(readFile(fileA)));
  const FeatureVector b = decodePrint(*parsePrintFile(readFile(fileB)));
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = 0; i + 1 < a.size() && i + 1 < b.size(); ++i) {
    ab += double{a[i]} * b[i], aa += double{a[i]} * a[i], bb += double{b[i]} * b[i];
  }
  return ab / std::sqrt(aa * bb);
}

struct Format {
  std::string file;     // made in the test folder
  std::string command;  // a shell command run there; $SRC is the photo, $OTHER a second one
  size_t headerAt;      // where four bytes of its header are flipped to damage it
};

// Every format gets a print close to its JPEG's print, upright (the photo is landscape, so a
// picture left on its side prints far from it); cut or corrupted copies get none; all quietly.
// Besides the formats made here, tests/data/images/photo holds cat_2.jpg in other formats and
// stored turned with the Exif tag that turns it back, and a HEIC turned 180 degrees by irot
// whose thumbnail of the same stored pixels is not turned: its print is the upright photo's.
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
  std::vector<std::string> pairs, damaged;  // pairs: a JPEG, then the same picture otherwise
  for (const Format& f : formats) {
    const std::string script = "SRC=" + kPhotos + "cat_1.jpg OTHER=" + kPhotos +
                               "coffee_1.jpg MAKE_DNG=" + VELTO_MAKE_DNG_BIN +
                               " PATH=/usr/bin:/bin; " + f.command;
    const ProgramResult r = runProgram("/bin/sh", {"-c", script}, dir.path());
    ASSERT_EQ(r.status, 0) << f.command << ": " << r.err;
    pairs.insert(pairs.end(), {kPhotos + "cat_1.jpg", dir.file(f.file)});
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
  for (const std::string name :
       {"cat_2.png", "cat_2.webp", "cat_2.heic", "cat_2.avif", "cat_2-orientation-6.jpg"}) {
    pairs.insert(pairs.end(), {kPhotos + "cat_2.jpg", kImages + "photo/" + name});
  }
  pairs.insert(pairs.end(), {kPhotos + "astronaut_1.jpg",
                             kImages + "photo/astronaut_1-turned-3-thumbnail-unturned.heic"});
  // Without the tag the same turned pixels print clearly apart: the orientation matters.
  pairs.insert(pairs.end(), {kPhotos + "cat_2.jpg", kImages + "photo/cat_2-stored-6-untagged.jpg"});
  std::vector<std::string> photos = pairs;
  photos.insert(photos.end(), damaged.begin(), damaged.end());
  const ProgramResult r = runProgram(
      kEmbed, {writeJob(dir.file("job.json"), photos, std::vector<long long>(photos.size(), 1)),
               dir.file("prints")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  const std::vector<Listed> listed = embedListing(r.out);
  ASSERT_EQ(listed.size(), photos.size()) << r.out;
  for (size_t i = 0; i < pairs.size(); i += 2) {
    ASSERT_EQ(listed[i].count, std::to_string(kPrintLength)) << photos[i];
    ASSERT_EQ(listed[i + 1].count, listed[i].count) << photos[i + 1];
    const double c = printCosine(listed[i].printFile, listed[i + 1].printFile);
    if (i + 2 < pairs.size()) {
      EXPECT_GE(c, 0.95) << photos[i + 1];
    } else {
      EXPECT_LT(c, 0.95) << photos[i + 1];
    }
    std::printf("[ measured ] %-45s cosine %.4f\n",
                photos[i + 1].substr(photos[i + 1].rfind('/') + 1).c_str(), c);
  }
  for (size_t i = pairs.size(); i < photos.size(); ++i)
    EXPECT_EQ(listed[i].count, "0") << photos[i];
}

}  // namespace
}  // namespace velto::testing
