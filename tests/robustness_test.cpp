// The real programs on hostile photos and hostile job files: nothing crashes, hangs, prints or
// runs out of memory, and the answer is the documented one.
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <opencv2/imgcodecs.hpp>

#include "testing/test_support.h"

namespace velto::testing {
namespace {

// The bound on the peak memory of a whole run over hostile photos, as stated in the README.
// A decode may legitimately need up to about 3 GiB for a real 256-megapixel picture; none of
// these files holds one, so staying far below shows that no header was believed.
constexpr int64_t kPeakMemoryBound = int64_t{512} << 20;
// Far more than any of these runs needs; reaching it means a hang.
constexpr double kTimeLimitSeconds = 300;

// The big-endian 16-bit number at `at`: a JPEG segment's length.
size_t be16(const std::string& s, size_t at) {
  return static_cast<unsigned char>(s[at]) * size_t{256} + static_cast<unsigned char>(s[at + 1]);
}

// A JPEG's bytes up to and including its start-of-scan header, then `n` bytes of noise that
// hold no 0xFF, so that no marker, and in particular no end marker, ever follows.
std::string jpegHeaderThenNoise(const std::string& jpeg, size_t n) {
  const size_t sos = jpeg.find("\xFF\xDA");
  std::string out = jpeg.substr(0, sos + 2 + be16(jpeg, sos + 2));
  cv::RNG rng(7);
  for (size_t i = 0; i < n; ++i) out += static_cast<char>(rng.uniform(0, 255));
  return out;
}

// `jpeg` rewritten losslessly by jpegtran (Debian's libjpeg-turbo-progs) with `switches`.
std::string jpegtran(const TempDir& dir, const std::string& jpeg,
                     std::vector<std::string> switches) {
  writeFile(dir.file("jpegtran-in.jpg"), jpeg);
  switches.insert(switches.end(),
                  {"-outfile", dir.file("jpegtran-out.jpg"), dir.file("jpegtran-in.jpg")});
  const ProgramResult r = runProgram("/usr/bin/jpegtran", switches);
  EXPECT_EQ(r.status, 0) << r.err;
  return readFile(dir.file("jpegtran-out.jpg"));
}

// `jpeg` with its frame header claiming `side` x `side` pixels.
std::string withFrameSide(std::string jpeg, int side) {
  for (size_t at = 2; at + 9 <= jpeg.size() && jpeg[at] == '\xFF'; at += 2 + be16(jpeg, at + 2)) {
    const int marker = static_cast<unsigned char>(jpeg[at + 1]);
    if (marker == 0xC0 || marker == 0xC2 || marker == 0xC9 || marker == 0xCA) {
      for (const size_t field : {at + 5, at + 7}) {
        jpeg[field] = static_cast<char>(side >> 8);
        jpeg[field + 1] = static_cast<char>(side & 255);
      }
      return jpeg;
    }
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
  std::string dht("\xFF\xC4\x00\x26", 4);
  for (const char table : {'\x00', '\x01'})
    dht += table + std::string("\x01") + std::string(16, '\0');
  const int64_t blocks = int64_t{side / 8} * (side / 8) * 3 / 2;
  return headers.substr(0, sos) + dht + headers.substr(sos, 2 + be16(headers, sos + 2)) +
         std::string(static_cast<size_t>(blocks / 8), '\0') + "\xFF\xD9";
}

// velto-fprint-embed lists no print for any hostile photo and the full one for the good photos
// in every form; velto-fprint, each photo in a time group of its own, succeeds with one group
// each, as if the hostile photos were merely missing. Both quietly, within the memory bound.
TEST(HostilePhotosE2E, EveryHostilePhotoGetsNoPrintQuietlyInBoundedMemory) {
  TempDir dir;
  std::vector<std::string> photos = {kPhotos + "cat_1.jpg"};  // good, hostile, good
  const auto add = [&](const std::string& name, const std::string& bytes) {
    writeFile(dir.file(name), bytes);
    photos.push_back(dir.file(name));
  };
  const std::string cat = readFile(kPhotos + "cat_1.jpg");
  ASSERT_GT(cat.size(), 10000u);
  add("empty.jpg", "");
  for (const size_t cut :
       {size_t{2}, size_t{300}, cat.size() / 3, cat.size() / 2, cat.size() - 100, cat.size() - 2}) {
    add("cut-" + std::to_string(cut) + ".jpg", cat.substr(0, cut));
  }
  add("noise-after-header.jpg", jpegHeaderThenNoise(cat, 30000));
  std::string heicNoMeta = readFile(kImages + "upright/plain.heic");
  heicNoMeta.replace(heicNoMeta.find("meta"), 4, "free");  // the item boxes are gone
  add("heic-without-meta.heic", heicNoMeta);
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
            "0,1,2: 0 0 0 0; 0: 1 62 0 0; 1: 1 63 0 0; 2: 1 63 0 0;\n0: 63 63 0 0;\n");
  const std::string fiveScans = jpegtran(dir, cat, {"-scans", dir.file("scans.txt")});
  const size_t lastScan = fiveScans.rfind("\xFF\xDA");  // no scan data holds 0xFF 0xDA
  std::string manyScans = fiveScans.substr(0, fiveScans.size() - 2);
  for (int i = 5; i < 499; ++i)
    manyScans += fiveScans.substr(lastScan, fiveScans.size() - 2 - lastScan);
  add("499-scans.jpg", manyScans + "\xFF\xD9");
  if (::geteuid() != 0) {  // root reads every file
    add("locked.jpg", cat);
    ::chmod(dir.file("locked.jpg").c_str(), 0);
  }
  std::filesystem::create_directory(dir.file("folder.jpg"));
  ASSERT_EQ(::mkfifo(dir.file("fifo.jpg").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir.file("loop-b.jpg"), dir.file("loop-a.jpg"));
  std::filesystem::create_symlink(dir.file("loop-a.jpg"), dir.file("loop-b.jpg"));
  photos.insert(photos.end(), {dir.file("folder.jpg"), dir.file("fifo.jpg"), "/dev/zero",
                               dir.file("loop-a.jpg")});
  const size_t hostile = photos.size() - 1;  // how many
  add("progressive.jpg", progressive);
  add("arithmetic.jpg", arithmetic);
  add("arithmetic-progressive.jpg", arithmeticProgressive);
  add("five-scans.jpg", fiveScans);
  // A real photo stored as PNG under a JPEG name: told by content, so it gets a print.
  std::vector<unsigned char> png;
  ASSERT_TRUE(cv::imencode(".png", cv::imread(kPhotos + "cat_1.jpg"), png));
  add("png-named.jpg", std::string(png.begin(), png.end()));
  std::vector<long long> timeGroups;
  std::string groups;
  for (size_t i = 1; i <= photos.size(); ++i) {
    timeGroups.push_back(static_cast<long long>(i));
    groups += (i > 1 ? "," : "") + std::to_string(i);
  }
  const std::string job = writeJob(dir.file("job.json"), photos, timeGroups);
  const MeasuredRun embed = runMeasured(kEmbed, {job, dir.file("prints")}, kTimeLimitSeconds);
  const MeasuredRun fprint = runMeasured(kFprint, {job, dir.file("out.json")}, kTimeLimitSeconds);
  for (const MeasuredRun* r : {&embed, &fprint}) {
    EXPECT_FALSE(r->timedOut);
    EXPECT_EQ(r->status, 0);
    EXPECT_EQ(r->err, "");
    EXPECT_LT(r->peakRssBytes, kPeakMemoryBound);
  }
  EXPECT_EQ(fprint.out, "");
  EXPECT_EQ(readFile(dir.file("out.json")), "{\"groups\":[" + groups + "]}");
  const std::vector<Listed> listed = embedListing(embed.out);
  ASSERT_EQ(listed.size(), photos.size()) << embed.out;
  EXPECT_NE(listed[0].count, "0");
  for (size_t i = 0; i < photos.size(); ++i) {
    EXPECT_EQ(listed[i].photo, photos[i]);
    EXPECT_EQ(listed[i].count, i == 0 || i > hostile ? listed[0].count : "0") << photos[i];
  }
  printMeasured("embed over " + std::to_string(hostile) + " hostile photos", embed);
  printMeasured("velto-fprint over them", fprint);
}

// A flat 16384 x 16384 RGB PNG: under a megabyte of deflated rows for 768 MiB of pixels.
std::string flatPng(int64_t side) {
  const auto be32 = [](uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  const auto chunk = [&](const std::string& type, const std::string& data) {
    const std::string body = type + data;
    return be32(static_cast<uint32_t>(data.size())) + body +
           be32(static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                            static_cast<uInt>(body.size()))));
  };
  std::string row(static_cast<size_t>(1 + 3 * side), '\x60');
  row[0] = 0;  // no filter
  z_stream z{};
  deflateInit(&z, 9);
  std::string idat(size_t{4} << 20, '\0');
  z.next_out = reinterpret_cast<Bytef*>(idat.data());
  z.avail_out = static_cast<uInt>(idat.size());
  for (int64_t y = 0; y < side; ++y) {
    z.next_in = reinterpret_cast<Bytef*>(row.data());
    z.avail_in = static_cast<uInt>(row.size());
    deflate(&z, y + 1 == side ? Z_FINISH : Z_NO_FLUSH);
  }
  idat.resize(z.total_out);
  deflateEnd(&z);
  const std::string ihdr = be32(static_cast<uint32_t>(side)) + be32(static_cast<uint32_t>(side)) +
                           std::string("\x08\x02\x00\x00\x00", 5);
  return "\x89PNG\r\n\x1a\n" + chunk("IHDR", ihdr) + chunk("IDAT", idat) + chunk("IEND", "");
}

// Tiny files declaring huge pictures, one per run of velto-fprint-embed: a 35-byte GIF whose
// logical screen is 16384 x 16384 around one 1 x 1 frame and a 94-byte animated WebP whose
// canvas is 16383 x 16383 around one (drawn at the print's scale: a print, for nothing); a
// flat 16384 x 16384 JPEG XL of 10 KB and PNG of under a megabyte (not paid for by their bytes:
// no print). Each within the memory bound; before, 1.4 to 3 GiB.
TEST(HostilePhotosE2E, TinyFilesDeclaringHugePicturesCostLittle) {
  TempDir dir;
  const std::string gif = std::string("GIF89a\x00\x40\x00\x40\x80\x00\x00", 13) +
                          std::string("\xff\x00\x00\x00\x00\xff", 6) +  // two colours
                          std::string("\x2c\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0;", 17);
  const auto webpChunk = [](const std::string& type, const std::string& data) {
    const auto n = static_cast<uint32_t>(data.size());
    return type + std::string{static_cast<char>(n), static_cast<char>(n >> 8), 0, 0} + data +
           (n % 2 == 1 ? std::string(1, '\0') : "");
  };
  const std::string onePixel("\x2f\0\0\0\0\x07\x50\x8f\x22\xd7\xa3\xff\x81\x88\xe8\x7f\0", 17);
  const std::string body =
      "WEBP" + webpChunk("VP8X", std::string("\x02\0\0\0\xfe\x3f\0\xfe\x3f\0", 10)) +
      webpChunk("ANIM", std::string(6, '\0')) +
      webpChunk("ANMF",
                std::string(12, '\0') + std::string("\x64\0\0\0", 4) + webpChunk("VP8L", onePixel));
  const auto n = static_cast<uint32_t>(body.size());
  const std::string webp =
      "RIFF" + std::string{static_cast<char>(n), static_cast<char>(n >> 8), 0, 0} + body;
  writeFile(dir.file("screen.gif"), gif);
  writeFile(dir.file("canvas.webp"), webp);
  writeFile(dir.file("flat.png"), flatPng(16384));
  const std::vector<std::pair<std::string, bool>> files = {
      // path, whether it gets a print
      {dir.file("screen.gif"), true},
      {dir.file("canvas.webp"), true},
      {kImages + "refused/jxl-16384-flat.jxl", false},
      {dir.file("flat.png"), false}};
  for (const auto& [photo, printed] : files) {
    const std::string job = writeJob(dir.file("job.json"), {photo}, {1});
    std::filesystem::remove_all(dir.file("prints"));
    const MeasuredRun r = runMeasured(kEmbed, {job, dir.file("prints")}, kTimeLimitSeconds);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_LT(r.peakRssBytes, kPeakMemoryBound) << photo;
    const std::vector<Listed> listed = embedListing(r.out);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].count != "0", printed) << photo;
    printMeasured(photo.substr(photo.rfind('/') + 1), r);
  }
}

// velto-fprint on a job file of `text`, with a check for a hang.
MeasuredRun runJob(const TempDir& dir, const std::string& text) {
  writeFile(dir.file("job.json"), text);
  const MeasuredRun r =
      runMeasured(kFprint, {dir.file("job.json"), dir.file("out.json")}, kTimeLimitSeconds);
  EXPECT_FALSE(r.timedOut);
  return r;
}

// A million levels of nesting, refused when the top is no object or the text is cut short,
// neither overflow the stack nor exhaust memory.
TEST(HostileJobsE2E, MillionLevelsOfNestingAreRefused) {
  TempDir dir;
  const std::string open(1000000, '[');
  for (const std::string& text :
       {open + std::string(1000000, ']'), R"({"photos":[],"timeGroups":[],"x":)" + open}) {
    const MeasuredRun r = runJob(dir, text);
    EXPECT_EQ(r, failure(dir.file("job.json") + " is not a JSON object"));
    EXPECT_LT(r.peakRssBytes, kPeakMemoryBound);
  }
  EXPECT_FALSE(exists(dir.file("out.json")));
}

// 64 MiB of empty and of nested arrays under keys the job does not use: read and dropped as
// they go by, instead of being built into gigabytes of document tree.
TEST(HostileJobsE2E, HugeUnusedContentTakesLittleMemory) {
  TempDir dir;
  const size_t half = size_t{32} << 20;
  std::string text = "{\"empties\":[[]";
  text.reserve(2 * half + 100);
  while (text.size() < half) text += ",[]";
  text += "],\"nested\":" + std::string(half / 2, '[') + std::string(half / 2, ']') +
          R"(,"photos":["a.jpg"],"timeGroups":[-3]})";
  const MeasuredRun r = runJob(dir, text);
  EXPECT_EQ(r, kQuiet);
  EXPECT_EQ(readFile(dir.file("out.json")), "{\"groups\":[0]}");
  EXPECT_LT(r.peakRssBytes, int64_t{768} << 20);
  printMeasured("64 MiB of unused arrays", r);
}

// A million dated photos that all fail to open: the no-usable-print failure, in reasonable
// time, and no result file.
TEST(HostileJobsE2E, MillionDatedMissingPhotos) {
  TempDir dir;
  std::string text = "{\"photos\":[";
  for (int i = 0; i < 1000000; ++i) text += (i ? ",\"" : "\"") + dir.file("no/such.jpg") + "\"";
  text += "],\"timeGroups\":[1";
  for (int i = 1; i < 1000000; ++i) text += ",1";
  const MeasuredRun r = runJob(dir, text + "]}");
  EXPECT_EQ(r, failure("no usable feature print among 1000000 photos (dims=-1)"));
  EXPECT_FALSE(exists(dir.file("out.json")));
  EXPECT_LT(r.seconds, 120);
  printMeasured("1000000 dated missing photos", r);
}

}  // namespace
}  // namespace velto::testing
