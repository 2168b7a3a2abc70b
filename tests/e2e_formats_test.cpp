// The formats of a camera roll beyond JPEG, each made at test time from a real photo with
// Debian's own tools (ImageMagick, cjxl, img2webp) or velto-make-dng: every one gets a print
// close to the photo's JPEG print, upright; cut or corrupted copies get none, quietly.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>

#include "embedding/embedding_recipe.h"
#include "testing/test_support.h"

namespace velto::testing {
namespace {

const std::string kEmbed = VELTO_EMBED_BIN;
const std::string kPhotos = std::string(VELTO_EXAMPLES) + "/photos/";

struct Format {
  std::string file;     // made in the test folder
  std::string command;  // a shell command run there; $SRC is the photo, $OTHER a second one
  size_t headerAt;      // where four bytes of its header are flipped to damage it
};

// Landscape, so that a picture left on its side prints far from the upright one.
const std::string kSource = kPhotos + "cat_1.jpg";
const std::vector<Format> kFormats = {
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

void makeFormats(const TempDir& dir) {
  for (const Format& f : kFormats) {
    const std::string script = "SRC=" + kSource + " OTHER=" + kPhotos +
                               "coffee_1.jpg MAKE_DNG=" + VELTO_MAKE_DNG_BIN +
                               " PATH=/usr/bin:/bin; " + f.command;
    const ProgramResult r = runProgram("/bin/sh", {"-c", script}, dir.path());
    ASSERT_EQ(r.status, 0) << f.command << ": " << r.err;
  }
}

// The prints velto-fprint-embed writes for `photos`, in order; empty for a photo without one.
std::vector<std::vector<float>> embed(const TempDir& dir, const std::vector<std::string>& photos,
                                      std::string* err) {
  writeFile(dir.file("job.json"), jobText(photos, std::vector<long long>(photos.size(), 1)));
  const ProgramResult r = runProgram(kEmbed, {dir.file("job.json"), dir.file("prints")});
  EXPECT_EQ(r.status, 0);
  *err = r.err;
  std::vector<std::vector<float>> prints;
  std::istringstream lines(r.out);
  std::string printFile, count, photo;
  while (std::getline(lines, printFile, '\t') && std::getline(lines, count, '\t') &&
         std::getline(lines, photo)) {
    std::vector<float> v;
    if (count != "0") {
      const std::string bytes = readFile(printFile);
      v.resize((bytes.size() - 4) / 4);
      std::memcpy(v.data(), bytes.data() + 4, v.size() * 4);
    }
    prints.push_back(v);
  }
  return prints;
}

TEST(FormatsE2E, EachFormatPrintsLikeTheJpegUpright) {
  TempDir dir;
  makeFormats(dir);
  std::vector<std::string> photos = {kSource};
  for (const Format& f : kFormats) photos.push_back(dir.file(f.file));
  std::string err;
  const std::vector<std::vector<float>> prints = embed(dir, photos, &err);
  EXPECT_EQ(err, "");
  ASSERT_EQ(prints.size(), photos.size());
  ASSERT_EQ(static_cast<int64_t>(prints[0].size()), kPrintLength);
  for (size_t i = 1; i < photos.size(); ++i) {
    ASSERT_EQ(prints[i].size(), prints[0].size()) << photos[i];
    const double c = printCosine(prints[0], prints[i]);
    EXPECT_GE(c, 0.95) << photos[i];
    std::printf("[ measured ] %-20s cosine %.4f\n", kFormats[i - 1].file.c_str(), c);
  }
}

TEST(FormatsE2E, DamagedFilesOfEachFormatGetNoPrintQuietly) {
  TempDir dir;
  makeFormats(dir);
  std::vector<std::string> photos;
  for (const Format& f : kFormats) {
    const std::string bytes = readFile(dir.file(f.file));
    ASSERT_GT(bytes.size(), f.headerAt + 4);
    std::string flipped = bytes;
    for (size_t i = f.headerAt; i < f.headerAt + 4; ++i)
      flipped[i] = static_cast<char>(~flipped[i]);
    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"half", bytes.substr(0, bytes.size() / 2)},
        {"short", bytes.substr(0, bytes.size() - 16)},
        {"flipped", flipped}};
    for (const auto& [how, content] : damaged) {
      photos.push_back(dir.file(how + "-" + f.file));
      writeFile(photos.back(), content);
    }
  }
  std::string err;
  const std::vector<std::vector<float>> prints = embed(dir, photos, &err);
  EXPECT_EQ(err, "");
  ASSERT_EQ(prints.size(), photos.size());
  for (size_t i = 0; i < photos.size(); ++i) EXPECT_TRUE(prints[i].empty()) << photos[i];
}

}  // namespace
}  // namespace velto::testing
