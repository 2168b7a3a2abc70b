// The real programs on hostile photos and hostile job files: nothing crashes, hangs, prints or
// runs out of memory, and the answer is the documented one.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <opencv2/imgcodecs.hpp>
#include <sstream>

#include "testing/measured_run.h"
#include "testing/test_support.h"

namespace velto::testing {
namespace {

const std::string kFprint = VELTO_FPRINT_BIN;
const std::string kReplay = VELTO_REPLAY_BIN;
const std::string kEmbed = VELTO_EMBED_BIN;
const std::string kPhotos = std::string(VELTO_EXAMPLES) + "/photos/";

// The bound on the peak memory of a whole run over hostile photos, as stated in the README.
// A decode may legitimately need up to about 3 GiB for a real 256-megapixel picture; none of
// these files holds one, so staying far below shows that no header was believed.
constexpr int64_t kPeakMemoryBound = int64_t{512} << 20;
// Far more than any of these runs needs; reaching it means a hang.
constexpr double kTimeLimitSeconds = 300;

// A JPEG's bytes up to and including its start-of-scan header, then `n` bytes of noise that
// hold no 0xFF, so that no marker, and in particular no end marker, ever follows.
std::string jpegHeaderThenNoise(const std::string& jpeg, size_t n) {
  const size_t sos = jpeg.find("\xFF\xDA");
  const size_t length =
      static_cast<unsigned char>(jpeg[sos + 2]) * 256 + static_cast<unsigned char>(jpeg[sos + 3]);
  std::string out = jpeg.substr(0, sos + 2 + length);
  cv::RNG rng(7);
  for (size_t i = 0; i < n; ++i) out += static_cast<char>(rng.uniform(0, 255));
  return out;
}

// `jpeg` rewritten losslessly by jpegtran (Debian's libjpeg-turbo-progs) with `switches`.
std::string jpegtran(const TempDir& dir, const std::string& jpeg,
                     const std::vector<std::string>& switches) {
  writeFile(dir.file("jpegtran-in.jpg"), jpeg);
  std::vector<std::string> args = switches;
  args.insert(args.end(), {"-outfile", dir.file("jpegtran-out.jpg"), dir.file("jpegtran-in.jpg")});
  const ProgramResult r = runProgram("/usr/bin/jpegtran", args);
  EXPECT_EQ(r.status, 0) << r.err;
  return readFile(dir.file("jpegtran-out.jpg"));
}

// `jpeg` with its frame header claiming `side` x `side` pixels.
std::string withFrameSide(std::string jpeg, int side) {
  size_t at = 2;
  while (at + 9 <= jpeg.size() && jpeg[at] == '\xFF') {
    const int marker = static_cast<unsigned char>(jpeg[at + 1]);
    if (marker == 0xC0 || marker == 0xC2 || marker == 0xC9 || marker == 0xCA) {
      for (const size_t field : {at + 5, at + 7}) {
        jpeg[field] = static_cast<char>(side >> 8);
        jpeg[field + 1] = static_cast<char>(side & 255);
      }
      return jpeg;
    }
    at += 2 + static_cast<size_t>(static_cast<unsigned char>(jpeg[at + 2]) * 256 +
                                  static_cast<unsigned char>(jpeg[at + 3]));
  }
  ADD_FAILURE() << "no frame header";
  return jpeg;
}

// The first `percent` % of `jpeg`, closed with an end marker as a repair tool would.
std::string cutWithEnd(const std::string& jpeg, size_t percent) {
  return jpeg.substr(0, jpeg.size() * percent / 100) + "\xFF\xD9";
}

// A valid progressive JPEG of a flat `side` x `side` picture: the headers of `progressive`
// (4:2:0), DC tables holding one 1-bit code (difference 0), and the first scan of zero bytes:
// one bit a block, the least a Huffman-coded frame can hold.
std::string flatProgressive(const std::string& progressive, int side) {
  const std::string headers = withFrameSide(progressive, side);
  const size_t sos = headers.find("\xFF\xDA");
  const size_t sosLength = static_cast<unsigned char>(headers[sos + 2]) * 256 +
                           static_cast<unsigned char>(headers[sos + 3]);
  std::string dht("\xFF\xC4\x00\x26", 4);
  for (const char table : {'\x00', '\x01'}) {
    dht += table + std::string("\x01") + std::string(15, '\0') + std::string(1, '\0');
  }
  const int64_t blocks = int64_t{side / 8} * (side / 8) * 3 / 2;
  return headers.substr(0, sos) + dht + headers.substr(sos, 2 + sosLength) +
         std::string(static_cast<size_t>(blocks / 8), '\0') + "\xFF\xD9";
}

// All bytes of a string literal, NUL bytes included.
template <size_t N>
std::string withNul(const char (&text)[N]) {
  return std::string(text, N - 1);
}

// Every hostile photo by name, with the good photos they are mixed with.
class HostilePhotosE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string cat = readFile(kPhotos + "cat_1.jpg");
    ASSERT_GT(cat.size(), 10000u);
    add("empty.jpg", "");
    for (const size_t cut : {size_t{2}, size_t{300}, cat.size() / 3, cat.size() / 2,
                             cat.size() - 100, cat.size() - 2}) {
      add("cut-" + std::to_string(cut) + ".jpg", cat.substr(0, cut));
    }
    add("noise-after-header.jpg", jpegHeaderThenNoise(cat, 30000));
    const std::string images = std::string(VELTO_TEST_DATA) + "/images/";
    for (const std::string name : {"png-100000x100000.png", "tiff-1000000x1000000.tif"}) {
      add(name, readFile(images + "refused/" + name));
    }
    const std::string heic = readFile(images + "upright/plain.heic");
    add("heic-cut-in-half.heic", heic.substr(0, heic.size() / 2));
    // JPEGs cut short and closed with an end marker; JPEGs whose frame header claims far more
    // than their coded data holds; a valid one whose coefficients would take 768 MiB; hundreds
    // of scans. The good rewrites stay good.
    const std::string progressive = jpegtran(dir, cat, {"-progressive"});
    const std::string arithmetic = jpegtran(dir, cat, {"-arithmetic"});
    const std::string arithmeticProgressive = jpegtran(dir, cat, {"-arithmetic", "-progressive"});
    for (const size_t percent : {30, 60}) {
      const std::string cut = "-cut-" + std::to_string(percent) + "-with-end.jpg";
      add("baseline" + cut, cutWithEnd(cat, percent));
      add("progressive" + cut, cutWithEnd(progressive, percent));
    }
    add("arithmetic-cut-60-with-end.jpg", cutWithEnd(arithmetic, 60));
    add("baseline-claims-16384.jpg", withFrameSide(cat, 16384));
    add("arithmetic-claims-16384.jpg", withFrameSide(arithmetic, 16384));
    add("arithmetic-progressive-claims-16384.jpg", withFrameSide(arithmeticProgressive, 16384));
    add("flat-progressive-16384.jpg", flatProgressive(progressive, 16384));
    writeFile(dir.file("scans.txt"),
              "0,1,2: 0 0 0 0; 0: 1 62 0 0; 1: 1 63 0 0; 2: 1 63 0 0;\n"
              "0: 63 63 0 0;\n");
    const std::string fiveScans = jpegtran(dir, cat, {"-scans", dir.file("scans.txt")});
    const size_t lastScan = fiveScans.rfind("\xFF\xDA");  // no scan data holds 0xFF 0xDA
    std::string manyScans = fiveScans.substr(0, fiveScans.size() - 2);
    for (int i = 5; i < 499; ++i)
      manyScans += fiveScans.substr(lastScan, fiveScans.size() - 2 - lastScan);
    add("499-scans.jpg", manyScans + "\xFF\xD9");
    addGood("progressive.jpg", progressive);
    addGood("arithmetic.jpg", arithmetic);
    addGood("arithmetic-progressive.jpg", arithmeticProgressive);
    addGood("five-scans.jpg", fiveScans);

    std::string heicNoMeta = heic;
    const size_t meta = heicNoMeta.find("meta");
    ASSERT_NE(meta, std::string::npos);
    heicNoMeta.replace(meta, 4, "free");  // the item boxes are gone, the rest intact
    add("heic-without-meta.heic", heicNoMeta);

    std::filesystem::create_directory(dir.file("folder.jpg"));
    hostile.push_back(dir.file("folder.jpg"));
    ASSERT_EQ(::mkfifo(dir.file("fifo.jpg").c_str(), 0600), 0);
    hostile.push_back(dir.file("fifo.jpg"));
    hostile.push_back("/dev/zero");
    std::filesystem::create_symlink(dir.file("loop-b.jpg"), dir.file("loop-a.jpg"));
    std::filesystem::create_symlink(dir.file("loop-a.jpg"), dir.file("loop-b.jpg"));
    hostile.push_back(dir.file("loop-a.jpg"));

    // A real photo stored as PNG under a JPEG name: told by content, so it gets a print.
    const cv::Mat decoded =
        cv::imdecode(cv::Mat(1, static_cast<int>(cat.size()), CV_8U, const_cast<char*>(cat.data())),
                     cv::IMREAD_COLOR);
    ASSERT_FALSE(decoded.empty());
    std::vector<unsigned char> png;
    ASSERT_TRUE(cv::imencode(".png", decoded, png));
    addGood("png-named.jpg", std::string(png.begin(), png.end()));
  }

  void add(const std::string& name, const std::string& bytes) {
    writeFile(dir.file(name), bytes);
    hostile.push_back(dir.file(name));
  }
  void addGood(const std::string& name, const std::string& bytes) {
    writeFile(dir.file(name), bytes);
    good.push_back(dir.file(name));
  }

  TempDir dir;
  std::vector<std::string> hostile;
  std::vector<std::string> good;  // still photos, in forms beside the hostile ones
};

// velto-fprint-embed lists the element count of every photo's print: 0 for each hostile photo,
// the full count for the good photo, and the same for the good ones in other forms (a PNG with
// a JPEG name, the JPEG made progressive or arithmetic-coded).
TEST_F(HostilePhotosE2E, EveryHostilePhotoGetsNoPrintAndNothingIsPrinted) {
  std::vector<std::string> photos = {kPhotos + "cat_1.jpg"};
  photos.insert(photos.end(), hostile.begin(), hostile.end());
  photos.insert(photos.end(), good.begin(), good.end());
  writeFile(dir.file("job.json"), jobText(photos, std::vector<long long>(photos.size(), 1)));

  const MeasuredRun r =
      runMeasured(kEmbed, {dir.file("job.json"), dir.file("prints")}, kTimeLimitSeconds);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::istringstream lines(r.out);
  std::string printFile;
  std::string count;
  std::string photo;
  size_t listed = 0;
  std::string goodCount;
  while (std::getline(lines, printFile, '\t') && std::getline(lines, count, '\t') &&
         std::getline(lines, photo)) {
    ASSERT_LT(listed, photos.size());
    EXPECT_EQ(photo, photos[listed]);
    if (listed == 0) {
      goodCount = count;
      EXPECT_NE(count, "0") << photo;
    } else {
      EXPECT_EQ(count, listed > hostile.size() ? goodCount : "0") << photo;
    }
    ++listed;
  }
  EXPECT_EQ(listed, photos.size()) << r.out;
  EXPECT_LT(r.peakRssBytes, kPeakMemoryBound);
  std::printf("[ measured ] embed over %zu hostile photos: %.1f s, peak %lld MiB\n", hostile.size(),
              r.seconds, static_cast<long long>(r.peakRssBytes >> 20));
}

// Each hostile photo alone in a time group of its own between good photos: the job succeeds
// with one group per time group, as if the hostile photos were merely missing, and the whole
// run over every hostile photo stays within the memory bound.
TEST_F(HostilePhotosE2E, JobOfHostilePhotosBetweenGoodOnesSucceedsQuietlyInBoundedMemory) {
  std::vector<std::string> photos = {kPhotos + "cat_1.jpg", kPhotos + "cat_2.jpg"};
  std::vector<long long> timeGroups = {1, 1};
  std::string expected = "1,1";
  long long group = 1;
  for (const std::string& h : hostile) {
    photos.push_back(h);
    timeGroups.push_back(++group);
    expected += "," + std::to_string(group);
  }
  photos.push_back(kPhotos + "cat_3.jpg");
  timeGroups.push_back(++group);
  expected += "," + std::to_string(group);
  writeFile(dir.file("job.json"), jobText(photos, timeGroups));

  const MeasuredRun r =
      runMeasured(kFprint, {dir.file("job.json"), dir.file("out.json")}, kTimeLimitSeconds);
  ASSERT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(readFile(dir.file("out.json")), "{\"groups\":[" + expected + "]}");
  EXPECT_LT(r.peakRssBytes, kPeakMemoryBound);
  std::printf("[ measured ] velto-fprint over %zu hostile photos: %.1f s, peak %lld MiB\n",
              hostile.size(), r.seconds, static_cast<long long>(r.peakRssBytes >> 20));
}

// A photo the program may not read is skipped like any other broken one.
TEST(HostilePhotoPermissionsE2E, UnreadablePhotoGetsNoPrint) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempDir dir;
  writeFile(dir.file("locked.jpg"), readFile(kPhotos + "cat_1.jpg"));
  ::chmod(dir.file("locked.jpg").c_str(), 0);
  writeFile(dir.file("job.json"), jobText({dir.file("locked.jpg")}, {1}));
  const ProgramResult r = runProgram(kEmbed, {dir.file("job.json"), dir.file("prints")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, dir.file("prints") + "/000000.print\t0\t" + dir.file("locked.jpg") + "\n");
}

class HostileJobsE2E : public ::testing::Test {
 protected:
  TempDir dir;
  std::string job = dir.file("job.json");
  std::string out = dir.file("out.json");

  MeasuredRun run(const std::string& program, const std::string& jobBytes) {
    writeFile(job, jobBytes);
    const MeasuredRun r = runMeasured(program, {job, out}, kTimeLimitSeconds);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.out, "");
    return r;
  }
  void expectNotAnObject(const MeasuredRun& r) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, job + " is not a JSON object\n");
    EXPECT_FALSE(exists(out));
  }
  void expectGroups(const MeasuredRun& r, const std::string& groups) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile(out), "{\"groups\":[" + groups + "]}");
  }
};

// A million levels of nesting neither overflow the stack nor exhaust memory: refused when
// the top is no object or the text is cut short, and ignored inside an unknown key.
TEST_F(HostileJobsE2E, MillionLevelsOfNesting) {
  const int64_t depth = 1000000;
  const std::string open(depth, '[');
  const std::string close(depth, ']');
  expectNotAnObject(run(kFprint, open + close));
  expectNotAnObject(run(kFprint, R"({"photos":[],"timeGroups":[],"x":)" + open));
  const MeasuredRun r =
      run(kFprint, "{\"x\":" + open + close + R"(,"photos":["a.jpg"],"timeGroups":[0]})");
  expectGroups(r, "0");
  EXPECT_LT(r.peakRssBytes, kPeakMemoryBound);
}

// 64 MiB of empty and of nested arrays under keys the job does not use: read and dropped as
// they go by, instead of being built into gigabytes of document tree.
TEST_F(HostileJobsE2E, HugeUnusedContentTakesLittleMemory) {
  const int64_t half = int64_t{32} << 20;
  std::string text = "{\"empties\":[[]";
  text.reserve(static_cast<size_t>(2 * half + 100));
  while (static_cast<int64_t>(text.size()) < half) text += ",[]";
  text += "],\"nested\":";
  const int64_t depth = half / 2;
  text +=
      std::string(static_cast<size_t>(depth), '[') + std::string(static_cast<size_t>(depth), ']');
  text += R"(,"photos":["a.jpg"],"timeGroups":[-3]})";
  const MeasuredRun r = run(kFprint, text);
  expectGroups(r, "0");
  EXPECT_LT(r.peakRssBytes, int64_t{768} << 20);
  std::printf("[ measured ] 64 MiB of unused arrays: %.1f s, peak %lld MiB\n", r.seconds,
              static_cast<long long>(r.peakRssBytes >> 20));
}

// A million dated photos that all fail to open: the no-usable-print failure, in reasonable
// time, and no result file.
TEST_F(HostileJobsE2E, MillionDatedMissingPhotos) {
  const int64_t n = 1000000;
  std::string text = "{\"photos\":[";
  for (int64_t i = 0; i < n; ++i) text += (i ? ",\"" : "\"") + dir.file("no/such.jpg") + "\"";
  text += "],\"timeGroups\":[";
  for (int64_t i = 0; i < n; ++i) text += i ? ",1" : "1";
  const MeasuredRun r = run(kFprint, text + "]}");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "no usable feature print among 1000000 photos (dims=-1)\n");
  EXPECT_FALSE(exists(out));
  EXPECT_LT(r.seconds, 120);
  std::printf("[ measured ] 1000000 dated missing photos: %.1f s, peak %lld MiB\n", r.seconds,
              static_cast<long long>(r.peakRssBytes >> 20));
}

// Text that is not strict UTF-8 JSON, wherever the fault sits, is no JSON object at all.
TEST_F(HostileJobsE2E, InvalidUtf8AndNulBytesAreNotAJsonObject) {
  for (const std::string& bytes : {
           std::string("{\"photos\":[\"\xC0\xAF.jpg\"],\"timeGroups\":[0]}"),      // overlong '/'
           std::string("{\"photos\":[\"\xED\xA0\x80.jpg\"],\"timeGroups\":[0]}"),  // surrogate
           std::string("{\"photos\":[\"\xF4\x90\x80\x80\"],\"timeGroups\":[0]}"),  // > U+10FFFF
           std::string("{\"photos\":[\"a\xE2\x82\"],\"timeGroups\":[0]}"),         // cut short
           std::string("{\"photos\":[\"\\ud800.jpg\"],\"timeGroups\":[0]}"),       // lone escape
           std::string("{\"photos\":[],\"timeGroups\":[]\xFF}"),
           withNul("{\"photos\":[\"a\0b\"],\"timeGroups\":[0]}"),
           withNul("\0{\"photos\":[],\"timeGroups\":[]}"),
           withNul("{\"photos\":[],\0\"timeGroups\":[]}"),
       }) {
    expectNotAnObject(run(kFprint, bytes));
  }
}

// One UTF-8 byte-order mark is skipped; a second one, or a UTF-16 mark, is not JSON.
TEST_F(HostileJobsE2E, ByteOrderMarks) {
  expectGroups(run(kFprint, "\xEF\xBB\xBF{\"photos\":[\"a\"],\"timeGroups\":[0]}"), "0");
  ::unlink(out.c_str());
  expectNotAnObject(run(kFprint, "\xEF\xBB\xBF\xEF\xBB\xBF{\"photos\":[],\"timeGroups\":[]}"));
  expectNotAnObject(run(kFprint, "\xFF\xFE{\"photos\":[],\"timeGroups\":[]}"));
  expectNotAnObject(run(kFprint, " \xEF\xBB\xBF{\"photos\":[],\"timeGroups\":[]}"));
}

// Of a key given twice the last one counts, so an earlier invalid or mismatched value does
// not matter.
TEST_F(HostileJobsE2E, DuplicateKeysLastWins) {
  expectGroups(run(kFprint, R"({"photos":["a"],"timeGroups":[1],"photos":["b","c"],)"
                            R"("timeGroups":[0,-1]})"),
               "0,0");
  expectGroups(run(kFprint, R"({"photos":7,"timeGroups":"x","photos":[],"timeGroups":[]})"), "");
}

}  // namespace
}  // namespace velto::testing
