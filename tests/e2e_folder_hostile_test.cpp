// The real velto-fprint-folder in folders a user did not tidy for it: sidecars that are not
// XMP or are write-protected, a photo changing while it is read, names holding terminal
// control sequences, and what killed runs and other programs leave behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <filesystem>
#include <thread>

#include "testing/test_support.h"

namespace velto::testing {
namespace {

const std::string kExiv2 = "/usr/bin/exiv2";
const std::string kProgram = "velto-fprint-folder: ";

// A copy of the example photo `example` at `path`, taken at 2026-12-07 `time` ("14:03:00").
void datedCopy(const std::string& example, const std::string& path, const std::string& time) {
  writeFile(path, readFile(kPhotos + example));
  const ProgramResult r =
      runProgram(kExiv2, {"-M", "set Exif.Photo.DateTimeOriginal 2026:12:07 " + time, path});
  ASSERT_EQ(r.status, 0) << "the tests write capture times with exiv2: " << r.err;
}

// Two photos a second apart, one series: both sidecars are to be written.
void twoOfASeries(const TempDir& dir) {
  datedCopy("cat_1.jpg", dir.file("a.jpg"), "14:03:00");
  datedCopy("cat_2.jpg", dir.file("b.jpg"), "14:03:01");
}

// Well-formed XML or HTML that holds no XMP packet is somebody else's file: reported and left
// byte for byte, under a dry run too. An empty file counts as no sidecar and is written.
TEST(FolderSidecarsE2E, SidecarsWithoutAnXmpPacketAreReportedAndLeftAlone) {
  for (const std::string& foreign :
       {std::string("<?xml version=\"1.0\"?><notes><note>Keep me</note></notes>"),
        std::string("<!DOCTYPE html><html><head><title>Trip</title></head>"
                    "<body><p>Keep me</p></body></html>")}) {
    TempDir dir;
    twoOfASeries(dir);
    writeFile(dir.file("a.jpg.xmp"), foreign);
    writeFile(dir.file("b.jpg.xmp"), "");
    const std::string refused =
        kProgram + "could not write sidecar " + dir.file("a.jpg.xmp") + ": not an XMP packet";
    const ProgramResult dry = runProgram(kFolder, {"--write-sidecars", "--dry-run", dir.path()});
    EXPECT_EQ(dry.status, 1);
    EXPECT_TRUE(contains(dry.err, refused));
    EXPECT_TRUE(contains(dry.err, "would create " + dir.file("b.jpg.xmp") + ": Series|"));
    EXPECT_TRUE(contains(dry.err, "1 sidecar would be written, 1 failure\n"));
    EXPECT_EQ(readFile(dir.file("b.jpg.xmp")), "");

    const ProgramResult r = runProgram(kFolder, {"--write-sidecars", dir.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, refused));
    EXPECT_TRUE(contains(r.err, "1 sidecar written, 2 prints from the cache, 1 failure\n"));
    EXPECT_EQ(readFile(dir.file("a.jpg.xmp")), foreign);
    EXPECT_TRUE(contains(readFile(dir.file("b.jpg.xmp")), "Series|2026-12-07 14-03 (2 photos)"));
  }
}

// A sidecar the user made read-only (mode 0444) in a folder they may write is reported and
// left, though renaming over it would succeed; so is one they may not write (root's, 0644).
// Root leaves a sidecar without any write permission bit too, and replaces a writable one.
TEST(FolderSidecarsE2E, WriteProtectedSidecarsAreReportedAndLeft) {
  const std::string packet = readFile(VELTO_TEST_DATA "/sidecar/photo-manager.xmp");
  TempDir dir;
  ::chmod(dir.path().c_str(), 0777);
  twoOfASeries(dir);
  writeFile(dir.file("a.jpg.xmp"), packet);
  writeFile(dir.file("b.jpg.xmp"), packet);
  ::chmod(dir.file("a.jpg.xmp").c_str(), 0444);
  ::chmod(dir.file("b.jpg.xmp").c_str(), 0644);  // the test's own: not writable by nobody
  const bool root = ::geteuid() == 0;
  if (root && runAsNobody({"/usr/bin/test", "-x", kFolder}).status != 0) {
    GTEST_SKIP() << "root, but user 65534 cannot run the program";
  }
  const std::string protectedA =
      kProgram + "could not write sidecar " + dir.file("a.jpg.xmp") + ": it is write-protected\n";
  const std::string protectedB =
      kProgram + "could not write sidecar " + dir.file("b.jpg.xmp") + ": it is write-protected\n";
  for (const bool dryRun : {true, false}) {
    std::vector<std::string> command = {kFolder, "--write-sidecars", dir.path()};
    if (dryRun) command.insert(command.begin() + 1, "--dry-run");
    const ProgramResult r = runAsNobody(command);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, protectedA));
    if (root) {
      EXPECT_TRUE(contains(r.err, protectedB));  // as nobody
    }
    EXPECT_EQ(readFile(dir.file("a.jpg.xmp")), packet);
  }
  if (!root) return;
  EXPECT_EQ(readFile(dir.file("b.jpg.xmp")), packet);
  const ProgramResult asRoot = runProgram(kFolder, {"--write-sidecars", dir.path()});
  EXPECT_EQ(asRoot.status, 1);
  EXPECT_TRUE(contains(asRoot.err, protectedA));
  EXPECT_FALSE(contains(asRoot.err, protectedB));
  EXPECT_EQ(readFile(dir.file("a.jpg.xmp")), packet);
  EXPECT_TRUE(contains(readFile(dir.file("b.jpg.xmp")), "Series|2026-12-07 14-03 (2 photos)"));
}

void put16(std::string* s, size_t at, uint16_t v) {
  (*s)[at] = static_cast<char>(v & 0xFF), (*s)[at + 1] = static_cast<char>(v >> 8);
}
void put32(std::string* s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*s)[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A little-endian TIFF whose first directory holds an XMP packet of `xmpBytes` and, after it
// in the file, an Exif directory with the capture time 2026-12-07 14:03:00. Its one strip lies
// beyond the end: it has metadata but no picture, so a run over it spends no time on prints.
std::string tiffWithCaptureTimeAfterXmp(size_t xmpBytes) {
  const std::string packet =
      "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
      "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'/></x:xmpmeta>" +
      std::string(xmpBytes, ' ') + "<?xpacket end='w'?>";
  const std::vector<std::array<uint32_t, 3>> first = {
      // tag, type, value (or offset)
      {256, 3, 1},          {257, 3, 1}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
      {273, 4, 0x7FFFFFF0}, {277, 3, 1}, {279, 4, 1}, {700, 1, 0}, {34665, 4, 0}};
  const size_t xmpAt = 8 + 2 + first.size() * 12 + 4;
  const size_t exifAt = xmpAt + packet.size() + (packet.size() & 1);
  const size_t dateAt = exifAt + 2 + 12 + 4;
  std::string t(dateAt + 20, '\0');
  t.replace(0, 4, "II*\0", 4);
  put32(&t, 4, 8);
  put16(&t, 8, static_cast<uint16_t>(first.size()));
  for (size_t i = 0; i < first.size(); ++i) {
    const size_t at = 10 + i * 12;
    const auto [tag, type, value] = first[i];
    put16(&t, at, static_cast<uint16_t>(tag));
    put16(&t, at + 2, static_cast<uint16_t>(type));
    put32(&t, at + 4, tag == 700 ? static_cast<uint32_t>(packet.size()) : 1);
    put32(&t, at + 8,
          tag == 700     ? static_cast<uint32_t>(xmpAt)
          : tag == 34665 ? static_cast<uint32_t>(exifAt)
                         : value);
  }
  t.replace(xmpAt, packet.size(), packet);
  put16(&t, exifAt, 1);
  put16(&t, exifAt + 2, 36867);  // DateTimeOriginal, ASCII, 20 bytes
  put16(&t, exifAt + 4, 2);
  put32(&t, exifAt + 6, 20);
  put32(&t, exifAt + 10, static_cast<uint32_t>(dateAt));
  t.replace(dateAt, 19, "2026:12:07 14:03:00");
  return t;
}

// A TIFF cut to nothing and restored by another process over and over, every half millisecond,
// while the program reads the capture times of the hundred names it has: every run ends
// normally (no SIGBUS from a mapped file that shrank), dated or not.
TEST(FolderPhotosE2E, PhotosChangingWhileReadNeverEndTheRun) {
  TempDir dir;
  const std::string tiff = tiffWithCaptureTimeAfterXmp(size_t{2} << 20);
  const std::string shared = dir.file("00.tif");
  writeFile(shared, tiff);
  datedCopy("cat_1.jpg", dir.file("photo.jpg"), "14:03:01");  // a dated photo with a print
  // Unchanged, it is dated.
  EXPECT_TRUE(contains(runProgram(kFolder, {dir.path()}).out, "00.tif,2026-12-07T14:03:00,"));
  for (int i = 1; i < 100; ++i) {
    ASSERT_EQ(::link(shared.c_str(), dir.file(std::to_string(100 + i) + ".tif").c_str()), 0);
  }
  std::atomic<bool> stop{false};
  std::thread changer([&] {
    const int fd = ::open(shared.c_str(), O_WRONLY | O_CLOEXEC);
    while (!stop) {
      (void)!::ftruncate(fd, 0);
      ::usleep(500);
      (void)!::pwrite(fd, tiff.data(), tiff.size(), 0);
      ::usleep(500);
    }
    ::close(fd);
  });
  int failed = 0;
  for (int run = 0; run < 30; ++run) {
    const ProgramResult r = runProgram(kFolder, {dir.path()});
    if (r.status != 0 || !contains(r.out, "photo.jpg,2026-12-07T14:03:01,")) ++failed;
  }
  stop = true;
  changer.join();
  EXPECT_EQ(failed, 0) << "of 30 runs";
}

// Names holding "ESC ] 0 ; text BEL" (retitles the terminal) and "ESC [ 2 J" (clears it) reach
// standard error escaped, and the CSV listing too when it goes to a terminal; the CSV written
// to a pipe keeps the name's bytes, and JSON escapes them as \u001b.
TEST(FolderNamesE2E, ControlCharactersInNamesNeverReachTheTerminal) {
  TempDir dir;
  const std::string name = "\x1b]0;owned\a\x1b[2J\x9b.jpg";
  const std::string shown = "\\x1b]0;owned\\x07\\x1b[2J\\x9b.jpg";
  datedCopy("cat_1.jpg", dir.file(name), "14:03:00");
  writeFile(dir.file(name + ".xmp"), "not XMP <");  // to be reported with the name

  const ProgramResult r = runProgram(kFolder, {"--write-sidecars", dir.path()});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, kProgram + "could not write sidecar " + dir.file(shown) +
                       ".xmp: not an XMP packet Exiv2 can read\n" + kProgram +
                       "1 photo (0 by file time), 0 skipped, 0 series, 0 sidecars written, "
                       "1 failure\n");
  EXPECT_EQ(r.out, "path,captureTime,timeSource,timeGroup,group\n" + dir.file(name) +
                       ",2026-12-07T14:03:00,exif,1,1\n");
  EXPECT_TRUE(contains(runProgram(kFolder, {"--json", dir.path()}).out,
                       "\\u001b]0;owned\\u0007\\u001b[2J\\udc9b.jpg"));

  // On a terminal (script(1) gives the program one), the listing shows the name escaped.
  const ProgramResult tty = runProgram(
      "/usr/bin/script", {"-qec", kFolder + " " + dir.path() + " 2>/dev/null", "/dev/null"});
  EXPECT_EQ(tty.status, 0) << tty.err;
  EXPECT_TRUE(contains(tty.out, dir.file(shown) + ",2026-12-07T14:03:00,exif,1,1"));
  EXPECT_FALSE(contains(tty.out, "\x1b"));
}

// Left by others: a FIFO named like a sidecar is no skipped file (sidecars are not counted);
// a killed run's temporary sidecar older than the run is removed, not counted; a fresh one (a
// run at the same time may be writing it) and other programs' look-alikes stay.
TEST(FolderSidecarsE2E, LeftoversOfKilledRunsGoAndSidecarLookalikesAreNotCounted) {
  TempDir dir;
  twoOfASeries(dir);
  ASSERT_EQ(::mkfifo(dir.file("a.jpg.xmp").c_str(), 0644), 0);
  const std::string stale = dir.file(".b.jpg.xmp.tmp-Ab3dE9");
  const std::string fresh = dir.file(".b.jpg.xmp.tmp-Zz0000");
  const std::string notOurs = dir.file(".b.jpg.xmp.tmp-long-name");
  for (const std::string& f : {stale, fresh, notOurs}) writeFile(f, "<x:xmpmeta");
  const struct timeval old[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(::utimes(stale.c_str(), old), 0);
  ASSERT_EQ(::utimes(notOurs.c_str(), old), 0);

  const ProgramResult dry = runProgram(kFolder, {"--write-sidecars", "--dry-run", dir.path()});
  EXPECT_TRUE(contains(dry.err, "(0 by file time), 2 skipped,"));  // the fresh one, not ours
  EXPECT_TRUE(exists(stale));  // a dry run writes nothing, removes nothing
  const ProgramResult r = runProgram(kFolder, {"--write-sidecars", dir.path()});
  EXPECT_TRUE(contains(r.err, "(0 by file time), 2 skipped,"));
  EXPECT_FALSE(exists(stale));
  EXPECT_TRUE(exists(fresh));
  EXPECT_TRUE(exists(notOurs));
}

}  // namespace
}  // namespace velto::testing
