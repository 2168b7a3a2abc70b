// The real velto-fprint-folder on copies of the example photos with capture times written into
// them by the exiv2 program: order, time groups and groups as velto-fprint makes them, the
// sidecars it merges, and failures of single folders and sidecars.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <opencv2/imgcodecs.hpp>
#include <filesystem>
#include <map>
#include <sstream>

#include "report_html_scan.h"
#include "testing/measured_run.h"
#include "testing/test_support.h"

namespace velto::testing {
namespace {

const std::string kFolder = VELTO_FOLDER_BIN;
const std::string kFprint = VELTO_FPRINT_BIN;
const std::string kPhotos = VELTO_EXAMPLE_PHOTOS;
const std::string kExiv2 = "/usr/bin/exiv2";

struct Row {
  std::string path, captureTime;
  long long timeGroup = -1, group = -1;
};

std::vector<Row> csvRows(const std::string& csv) {
  std::istringstream in(csv);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "path,captureTime,timeGroup,group");
  std::vector<Row> rows;
  while (std::getline(in, line)) {
    Row r;
    std::istringstream fields(line);
    std::string tg, g;
    std::getline(fields, r.path, ',');
    std::getline(fields, r.captureTime, ',');
    std::getline(fields, tg, ',');
    std::getline(fields, g, ',');
    r.timeGroup = std::stoll(tg);
    r.group = std::stoll(g);
    rows.push_back(r);
  }
  return rows;
}

void copyPhoto(const std::string& name, const std::string& to) {
  writeFile(to, readFile(kPhotos + "/" + name));
}

// Runs exiv2 with `commands` (each one -M argument) on `file`; the test fails if exiv2 does.
void exiv2(const std::vector<std::string>& commands, const std::string& file) {
  ASSERT_EQ(::access(kExiv2.c_str(), X_OK), 0)
      << "the tests write capture times with exiv2: tools/install-deps.sh exiv2";
  std::vector<std::string> args;
  for (const std::string& c : commands) args.insert(args.end(), {"-M", c});
  args.push_back(file);
  const ProgramResult r = runProgram(kExiv2, args);
  ASSERT_EQ(r.status, 0) << r.err;
}

void setCaptureTime(const std::string& file, const std::string& dateTime,
                    const std::string& subSeconds = "", const std::string& offset = "") {
  std::vector<std::string> commands = {"set Exif.Photo.DateTimeOriginal " + dateTime};
  if (!subSeconds.empty()) commands.push_back("set Exif.Photo.SubSecTimeOriginal " + subSeconds);
  if (!offset.empty()) commands.push_back("set Exif.Photo.OffsetTimeOriginal " + offset);
  exiv2(commands, file);
}

// Every XMP property of a sidecar as exiv2 reads it back: "key type value" per line, sorted.
std::vector<std::string> xmpProperties(const std::string& sidecar) {
  const ProgramResult r = runProgram(kExiv2, {"-q", "-PXkyv", sidecar});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);  // exiv2 pads its columns
    std::string word, joined;
    while (words >> word) joined += (joined.empty() ? "" : " ") + word;
    lines.push_back(joined);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

const std::vector<std::string> kAsNobody = {"--reuid=65534", "--regid=65534", "--clear-groups"};

// Whether runUnprivileged can run the program at all: as root, setpriv must be there and user
// 65534 must reach the program.
bool canRunUnprivileged() {
  if (::geteuid() != 0) return true;
  if (::access("/usr/bin/setpriv", X_OK) != 0) return false;
  std::vector<std::string> args = kAsNobody;
  args.insert(args.end(), {"/usr/bin/test", "-x", kFolder});
  return runProgram("/usr/bin/setpriv", args).status == 0;
}

// Runs the program as an unprivileged user when the tests run as root, who could read and
// write everything.
ProgramResult runUnprivileged(const std::vector<std::string>& args) {
  if (::geteuid() != 0) return runProgram(kFolder, args);
  std::vector<std::string> all = kAsNobody;
  all.push_back(kFolder);
  all.insert(all.end(), args.begin(), args.end());
  return runProgram("/usr/bin/setpriv", all);
}

TEST(FolderE2E, GroupsAsVeltoFprintDoesOnTheEquivalentJob) {
  // Times chosen so that names, sub-second digits, a partial offset and the gap boundary would
  // all give another order or other time groups if handled wrongly.
  TempDir dir;
  std::filesystem::create_directory(dir.file("sub"));
  struct Shot {
    std::string name, dateTime, subSeconds, offset;
  };
  const std::vector<Shot> shots = {
      {"rocket_2.jpg", "2026:12:07 13:00:00", "", ""},  // first by time, last by name
      {"cat_1.jpg", "2026:12:07 14:00:00", "", ""},
      {"cat_2.jpg", "2026:12:07 14:00:00", "20", ""},   // .20 s
      {"cat_3.jpg", "2026:12:07 14:00:00", "100", ""},  // .100 s: before cat_2
      {"coffee_1.jpg", "2026:12:07 14:10:00", "2", ""},  // exactly 600 s after cat_2: same group
      {"coffee_2.jpg", "2026:12:07 14:10:30", "", ""},
      // 600.01 s later: a new time group. Not every photo records its offset, so wall-clock
      // times count (not 09:20 UTC).
      {"coffee_3.jpg", "2026:12:07 14:20:30", "01", "+05:00"},
      {"astronaut_1.jpg", "2026:12:07 14:21:00", "", ""},
      {"sub/astronaut_2.jpg", "2026:12:07 14:21:00", "", ""},  // same time: path order
  };
  for (const Shot& s : shots) {
    const std::string path = dir.file(s.name);
    copyPhoto(std::filesystem::path(s.name).filename(), path);
    setCaptureTime(path, s.dateTime, s.subSeconds, s.offset);
  }
  copyPhoto("rocket_1.jpg", dir.file("sub/rocket_1.jpg"));  // no capture time: undated
  writeFile(dir.file("notes.jpg"), "not a photo, whatever its name");
  ASSERT_EQ(::mkfifo(dir.file("sub/pipe").c_str(), 0600), 0);

  const ProgramResult r =
      runProgram(kFolder, {"--recursive", "--report", dir.file("report.html"), dir.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<Row> rows = csvRows(r.out);
  const std::string d = dir.path() + "/";
  const std::vector<std::pair<std::string, long long>> expected = {
      {d + "rocket_2.jpg", 1},   {d + "cat_1.jpg", 2},        {d + "cat_3.jpg", 2},
      {d + "cat_2.jpg", 2},      {d + "coffee_1.jpg", 2},     {d + "coffee_2.jpg", 2},
      {d + "coffee_3.jpg", 3},   {d + "astronaut_1.jpg", 3}, {d + "sub/astronaut_2.jpg", 3},
      {d + "sub/rocket_1.jpg", 0}};
  ASSERT_EQ(rows.size(), expected.size()) << r.out;
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].path, expected[i].first) << "row " << i;
    EXPECT_EQ(rows[i].timeGroup, expected[i].second) << rows[i].path;
  }
  EXPECT_EQ(rows[3].captureTime, "2026-12-07T14:00:00.20");
  EXPECT_EQ(rows[6].captureTime, "2026-12-07T14:20:30.01+05:00");
  EXPECT_EQ(rows[9].captureTime, "");

  // velto-fprint on the same photos and time groups makes exactly the same groups.
  std::vector<std::string> paths;
  std::vector<long long> timeGroups, groups;
  for (const Row& row : rows) {
    paths.push_back(row.path);
    timeGroups.push_back(row.timeGroup);
    groups.push_back(row.group);
  }
  writeFile(dir.file("job.json"), jobText(paths, timeGroups));
  ASSERT_EQ(runProgram(kFprint, {dir.file("job.json"), dir.file("result.json")}).status, 0);
  EXPECT_EQ(groups, resultGroups(readFile(dir.file("result.json"))));
  EXPECT_NE(groups[3], groups[4]) << "the cats and the coffee: a cut inside a time group";
  EXPECT_EQ(tileGroups(readFile(dir.file("report.html"))), groups);

  std::map<long long, int> sizes;
  for (const long long g : groups) sizes[g] += g > 0 ? 1 : 0;
  const auto series = std::count_if(sizes.begin(), sizes.end(), [](auto& s) { return s.second > 1; });
  EXPECT_EQ(r.err, "velto-fprint-folder: 10 photos (1 undated), 2 skipped, " +
                       std::to_string(series) + " series, 0 sidecars written\n");

  // The JSON listing says the same, and a gap of a day puts every dated photo in one group.
  const ProgramResult json = runProgram(kFolder, {"--json", "--recursive", dir.path()});
  EXPECT_EQ(json.out.rfind("[\n{\"path\":\"" + d + "rocket_2.jpg\",", 0), 0u) << json.out;
  EXPECT_NE(json.out.find("{\"path\":\"" + d + "sub/rocket_1.jpg\",\"captureTime\":null,"
                          "\"timeGroup\":0,\"group\":0}\n]\n"),
            std::string::npos);
  const ProgramResult day = runProgram(kFolder, {"--gap", "86400", "--recursive", dir.path()});
  for (const Row& row : csvRows(day.out)) EXPECT_EQ(row.timeGroup, row.captureTime.empty() ? 0 : 1);
}

TEST(FolderE2E, SidecarsAreMergedKeepingForeignPropertiesAndRerunsChangeNothing) {
  TempDir dir;
  for (const char* name : {"cat_1.jpg", "cat_2.jpg", "cat_3.jpg", "coffee_1.jpg"}) {
    copyPhoto(name, dir.file(name));
  }
  setCaptureTime(dir.file("cat_1.jpg"), "2026:12:07 14:03:00");
  setCaptureTime(dir.file("cat_2.jpg"), "2026:12:07 14:03:01");
  setCaptureTime(dir.file("cat_3.jpg"), "2026:12:07 14:03:02");
  setCaptureTime(dir.file("coffee_1.jpg"), "2026:12:07 18:00:00");  // alone: in no series
  const std::string cat1 = dir.file("cat_1.jpg.xmp");
  const std::string coffee = dir.file("coffee_1.jpg.xmp");
  // What a photo manager left: its own properties (a struct sequence, a language alternative,
  // a namespace Exiv2 does not know), tags of the user's and an earlier run's series keyword.
  const std::string foreign =
      R"(<?xml version="1.0" encoding="UTF-8"?>
<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
<rdf:Description rdf:about="" xmlns:dc="http://purl.org/dc/elements/1.1/"
 xmlns:xmp="http://ns.adobe.com/xap/1.0/" xmlns:lr="http://ns.adobe.com/lightroom/1.0/"
 xmlns:digiKam="http://www.digikam.org/ns/1.0/" xmlns:darktable="http://darktable.sf.net/"
 xmlns:my="http://example.invalid/my/1.0/" xmp:Rating="4" my:note="kept as it is">
<dc:title><rdf:Alt><rdf:li xml:lang="x-default">Cat on a mat</rdf:li></rdf:Alt></dc:title>
<dc:subject><rdf:Bag><rdf:li>Paris</rdf:li><rdf:li>2026-01-01 10-00 (9 photos)</rdf:li></rdf:Bag></dc:subject>
<lr:hierarchicalSubject><rdf:Bag><rdf:li>Places|Paris</rdf:li><rdf:li>Series|2026-01-01 10-00 (9 photos)</rdf:li></rdf:Bag></lr:hierarchicalSubject>
<digiKam:TagsList><rdf:Seq><rdf:li>Places/Paris</rdf:li><rdf:li>Series/2026-01-01 10-00 (9 photos)</rdf:li></rdf:Seq></digiKam:TagsList>
<darktable:history><rdf:Seq><rdf:li rdf:parseType="Resource"><darktable:operation>exposure</darktable:operation><darktable:enabled>1</darktable:enabled></rdf:li></rdf:Seq></darktable:history>
</rdf:Description></rdf:RDF></x:xmpmeta>)";
  writeFile(cat1, foreign);
  writeFile(coffee, foreign);
  std::vector<std::string> photoBytes;
  for (const char* name : {"cat_1.jpg", "cat_2.jpg", "cat_3.jpg", "coffee_1.jpg"}) {
    photoBytes.push_back(readFile(dir.file(name)));
  }
  const std::vector<std::string> before = xmpProperties(cat1);

  const ProgramResult first = runProgram(kFolder, {"--write-sidecars", dir.path()});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.err, "velto-fprint-folder: 4 photos (0 undated), 0 skipped, 1 series, "
                       "4 sidecars written\n");
  // Every foreign property as it was; the old series keyword replaced by the new one.
  const std::string leaf = "2026-12-07 14-03 (3 photos)";
  std::vector<std::string> expected;
  for (const std::string& line : before) {
    if (line.find("9 photos") == std::string::npos) expected.push_back(line);
  }
  expected.push_back("Xmp.dc.subject XmpBag Paris, " + leaf);
  expected.push_back("Xmp.digiKam.TagsList XmpSeq Places/Paris, Series/" + leaf);
  expected.push_back("Xmp.lr.hierarchicalSubject XmpBag Places|Paris, Series|" + leaf);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(xmpProperties(cat1), expected);
  EXPECT_EQ(xmpProperties(dir.file("cat_3.jpg.xmp")),
            (std::vector<std::string>{"Xmp.dc.subject XmpBag " + leaf,
                                      "Xmp.digiKam.TagsList XmpSeq Series/" + leaf,
                                      "Xmp.lr.hierarchicalSubject XmpBag Series|" + leaf}));
  // The photo in no series only loses the earlier run's keyword.
  std::vector<std::string> withoutSeries;
  for (const std::string& line : before) {
    if (line.find("9 photos") == std::string::npos) withoutSeries.push_back(line);
  }
  withoutSeries.push_back("Xmp.dc.subject XmpBag Paris");
  withoutSeries.push_back("Xmp.digiKam.TagsList XmpSeq Places/Paris");
  withoutSeries.push_back("Xmp.lr.hierarchicalSubject XmpBag Places|Paris");
  std::sort(withoutSeries.begin(), withoutSeries.end());
  EXPECT_EQ(xmpProperties(coffee), withoutSeries);

  // Again: nothing to change, nothing written, the photos never touched.
  std::map<std::string, std::string> sidecars;
  for (const std::string& name : listFolder(dir.path())) sidecars[name] = readFile(dir.file(name));
  const ProgramResult second = runProgram(kFolder, {"--write-sidecars", dir.path()});
  EXPECT_EQ(second.status, 0);
  EXPECT_NE(second.err.find(", 0 sidecars written"), std::string::npos) << second.err;
  for (const auto& [name, bytes] : sidecars) EXPECT_EQ(readFile(dir.file(name)), bytes) << name;
  EXPECT_EQ(sidecars.size(), 8u);  // four photos, four sidecars, no temporary files

  // A dry run with a gap that leaves every photo alone says what would go and changes nothing;
  // a sidecar that is not XMP is reported and left as it is.
  writeFile(dir.file("cat_2.jpg.xmp"), "not XMP at all <");
  sidecars[std::string("cat_2.jpg.xmp")] = "not XMP at all <";
  const ProgramResult dry =
      runProgram(kFolder, {"--write-sidecars", "--dry-run", "--gap", "0.5", dir.path()});
  EXPECT_EQ(dry.status, 1);
  EXPECT_NE(dry.err.find("would update " + cat1 + ": remove the series keyword\n"),
            std::string::npos) << dry.err;
  EXPECT_NE(dry.err.find("could not write sidecar " + dir.file("cat_2.jpg.xmp") + ": "),
            std::string::npos) << dry.err;
  EXPECT_NE(dry.err.find(", 2 sidecars would be written, 1 failure\n"), std::string::npos)
      << dry.err;
  for (const auto& [name, bytes] : sidecars) EXPECT_EQ(readFile(dir.file(name)), bytes) << name;
  int i = 0;
  for (const char* name : {"cat_1.jpg", "cat_2.jpg", "cat_3.jpg", "coffee_1.jpg"}) {
    EXPECT_EQ(readFile(dir.file(name)), photoBytes[i++]) << name;
  }
}

TEST(FolderE2E, NamesThatAreNotUtf8KeepTheirBytes) {
  TempDir dir;
  const std::string latin1 = dir.file("caf\xe9.jpg");   // "café" in Latin-1
  const std::string broken = dir.file("b\xff\xfe.jpg");
  copyPhoto("cat_1.jpg", latin1);
  copyPhoto("cat_2.jpg", broken);
  setCaptureTime(latin1, "2026:12:07 14:03:00");
  setCaptureTime(broken, "2026:12:07 14:03:01");

  const ProgramResult r = runProgram(kFolder, {"--json", "--write-sidecars", dir.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string d = dir.path() + "/";
  EXPECT_EQ(r.out,
            "[\n{\"path\":\"" + d + "caf\\udce9.jpg\",\"captureTime\":\"2026-12-07T14:03:00\","
            "\"timeGroup\":1,\"group\":1},\n{\"path\":\"" + d + "b\\udcff\\udcfe.jpg\","
            "\"captureTime\":\"2026-12-07T14:03:01\",\"timeGroup\":1,\"group\":1}\n]\n");
  EXPECT_TRUE(exists(latin1 + ".xmp"));
  EXPECT_TRUE(exists(broken + ".xmp"));
  const ProgramResult csv = runProgram(kFolder, {dir.path()});
  EXPECT_EQ(csvRows(csv.out)[0].path, latin1);
}

TEST(FolderE2E, UnreadableFolderAndReadOnlyFolderAreReportedAndTheRunGoesOn) {
  if (!canRunUnprivileged()) GTEST_SKIP() << "root, but user 65534 cannot run the program";
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  for (const char* sub : {"ok", "locked", "readonly"}) {
    std::filesystem::create_directory(dir.file(sub));
  }
  const std::vector<std::pair<std::string, std::string>> shots = {
      {"ok/cat_1.jpg", "14:03:00"},       {"ok/cat_2.jpg", "14:03:01"},
      {"locked/cat_3.jpg", "14:03:02"},   {"readonly/coffee_1.jpg", "18:00:00"},
      {"readonly/coffee_2.jpg", "18:00:01"}};
  for (const auto& [name, time] : shots) {
    copyPhoto(std::filesystem::path(name).filename(), dir.file(name));
    setCaptureTime(dir.file(name), "2026:12:07 " + time);
  }
  ::chmod(dir.file("ok").c_str(), 0777);
  ::chmod(dir.file("locked").c_str(), 0);
  ::chmod(dir.file("readonly").c_str(), 0555);

  const ProgramResult r = runUnprivileged({"--recursive", "--write-sidecars", dir.path()});
  EXPECT_EQ(r.status, 1);
  const std::string d = dir.path() + "/";
  EXPECT_NE(r.err.find("velto-fprint-folder: could not read folder " + d +
                       "locked: Permission denied\n"),
            std::string::npos) << r.err;
  for (const char* photo : {"coffee_1.jpg", "coffee_2.jpg"}) {
    EXPECT_NE(r.err.find("velto-fprint-folder: could not write sidecar " + d + "readonly/" +
                         photo + ".xmp: Permission denied\n"),
              std::string::npos) << r.err;
  }
  EXPECT_NE(r.err.find("4 photos (0 undated), 0 skipped, 2 series, 2 sidecars written, "
                       "3 failures\n"),
            std::string::npos) << r.err;
  EXPECT_EQ(csvRows(r.out).size(), 4u);
  EXPECT_TRUE(exists(dir.file("ok/cat_1.jpg.xmp")));
  EXPECT_TRUE(exists(dir.file("ok/cat_2.jpg.xmp")));
  EXPECT_EQ(listFolder(dir.file("readonly")),
            (std::vector<std::string>{"coffee_1.jpg", "coffee_2.jpg"}));
}

// A full file system (a small tmpfs, mounted in a mount namespace of the test's own): the
// sidecars that cannot be written are reported, the one already there stays as it was, and no
// temporary file is left behind.
TEST(FolderE2E, FullFileSystemLosesNothing) {
  if (::geteuid() != 0 || ::access("/usr/bin/unshare", X_OK) != 0) {
    GTEST_SKIP() << "needs root and unshare to mount a small tmpfs";
  }
  TempDir dir;
  std::filesystem::create_directory(dir.file("disk"));
  const std::string foreign = R"(<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf=)"
                              R"("http://www.w3.org/1999/02/22-rdf-syntax-ns#"><rdf:Description )"
                              R"(rdf:about="" xmlns:xmp="http://ns.adobe.com/xap/1.0/" )"
                              R"(xmp:Rating="5"/></rdf:RDF></x:xmpmeta>)";
  writeFile(dir.file("foreign.xmp"), foreign);
  for (const char* name : {"cat_1.jpg", "cat_2.jpg"}) copyPhoto(name, dir.file(name));
  setCaptureTime(dir.file("cat_1.jpg"), "2026:12:07 14:03:00");
  setCaptureTime(dir.file("cat_2.jpg"), "2026:12:07 14:03:01");
  const std::string script = R"(
    d=$1/disk; mount -t tmpfs -o size=256k tmpfs "$d" || exit 99
    cp "$1/cat_1.jpg" "$1/cat_2.jpg" "$d"/ && cp "$1/foreign.xmp" "$d/cat_1.jpg.xmp" || exit 98
    dd if=/dev/zero of="$d/filler" bs=1k 2>/dev/null
    "$2" --write-sidecars "$d" >/dev/null 2>"$1/err"; echo $? >"$1/status"
    cmp -s "$d/cat_1.jpg.xmp" "$1/foreign.xmp" && echo kept >"$1/kept"
    ls -a "$d" >"$1/list")";
  const ProgramResult r =
      runProgram("/usr/bin/unshare", {"-m", "/bin/sh", "-c", script, "sh", dir.path(), kFolder});
  if (r.status == 99) GTEST_SKIP() << "tmpfs cannot be mounted here: " << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(dir.file("status")), "1\n");
  const std::string err = readFile(dir.file("err"));
  const std::string d = dir.file("disk") + "/";
  for (const char* photo : {"cat_1.jpg", "cat_2.jpg"}) {
    EXPECT_NE(err.find("could not write sidecar " + d + photo + ".xmp: No space left on device\n"),
              std::string::npos) << err;
  }
  EXPECT_EQ(readFile(dir.file("kept")), "kept\n");
  EXPECT_EQ(readFile(dir.file("list")), ".\n..\ncat_1.jpg\ncat_1.jpg.xmp\ncat_2.jpg\nfiller\n");
}

// Every format velto-fprint decodes that carries Exif gives its capture time: JPEG, PNG, WebP
// and TIFF written by exiv2; HEIC and AVIF by heif-enc from a JPEG, which copies its Exif. The
// photo is 399 pixels wide, so the HEIC is a grid, whose Exif item Exiv2 0.27 does not find.
TEST(FolderE2E, CaptureTimesOfEveryFormat) {
  const std::string heifEnc = "/usr/bin/heif-enc";
  ASSERT_EQ(::access(heifEnc.c_str(), X_OK), 0) << "tools/install-deps.sh libheif-examples";
  TempDir dir;
  const cv::Mat picture = cv::imread(kPhotos + "/cat_1.jpg");
  ASSERT_EQ(picture.cols, 399);
  const std::vector<std::pair<std::string, std::string>> shots = {
      {"a.png", "10:00:01"}, {"a.webp", "10:00:02"}, {"a.tif", "10:00:03"},
      {"b.jpg", "10:00:04"}, {"c.jpg", "10:00:05"}, {"a.jpg", "10:00:06"}};
  for (const auto& [name, time] : shots) {
    const std::string path = dir.file(name);
    if (name == "a.jpg") {
      copyPhoto("cat_1.jpg", path);
    } else {
      ASSERT_TRUE(cv::imwrite(path, picture)) << name;
    }
    setCaptureTime(path, "2026:12:07 " + time);
  }
  ASSERT_EQ(runProgram(heifEnc, {"-q", "30", "-o", dir.file("b.heic"), dir.file("b.jpg")}).status, 0);
  ASSERT_EQ(runProgram(heifEnc, {"-A", "-q", "30", "-o", dir.file("c.avif"), dir.file("c.jpg")}).status, 0);
  std::filesystem::remove(dir.file("b.jpg"));
  std::filesystem::remove(dir.file("c.jpg"));

  const ProgramResult r = runProgram(kFolder, {dir.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::pair<std::string, std::string>> seen;
  for (const Row& row : csvRows(r.out)) {
    seen.emplace_back(std::filesystem::path(row.path).filename(), row.captureTime);
  }
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{
                      {"a.png", "2026-12-07T10:00:01"}, {"a.webp", "2026-12-07T10:00:02"},
                      {"a.tif", "2026-12-07T10:00:03"}, {"b.heic", "2026-12-07T10:00:04"},
                      {"c.avif", "2026-12-07T10:00:05"}, {"a.jpg", "2026-12-07T10:00:06"}}));
}

// A HEIF file of 800 KB whose boxes nest 100000 deep, beside two dated photos: Exiv2 0.27 alone
// spends minutes and gigabytes on it, holding a copy of every enclosing box. It is left undated
// at once; the others keep their times, and the run ends as usual.
TEST(FolderE2E, DeeplyNestedHeifBoxesAreLeftUndatedAtOnce) {
  TempDir dir;
  copyPhoto("cat_1.jpg", dir.file("a.jpg"));
  copyPhoto("cat_2.jpg", dir.file("b.jpg"));
  setCaptureTime(dir.file("a.jpg"), "2026:12:07 10:00:01");
  setCaptureTime(dir.file("b.jpg"), "2026:12:07 10:00:02");
  const auto header = [](size_t size, const std::string& type) {
    return std::string{static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                       static_cast<char>(size >> 8), static_cast<char>(size)} + type;
  };
  std::string heif = header(24, "ftyp") + std::string("heic\0\0\0\0mif1heic", 16);
  constexpr size_t kDepth = 100000;
  for (size_t i = 0; i < kDepth; ++i) heif += header(8 * (kDepth - i), "ipco");
  writeFile(dir.file("c.heic"), heif);

  const MeasuredRun r = runMeasured(kFolder, {dir.path()}, 60);
  ASSERT_FALSE(r.timedOut);
  EXPECT_LT(r.peakRssBytes, int64_t{512} << 20);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<Row> rows = csvRows(r.out);
  ASSERT_EQ(rows.size(), 3u) << r.out;
  EXPECT_EQ(rows[0].captureTime, "2026-12-07T10:00:01");
  EXPECT_EQ(rows[1].captureTime, "2026-12-07T10:00:02");
  EXPECT_EQ(rows[2].path, dir.file("c.heic"));
  EXPECT_EQ(rows[2].captureTime, "");
  EXPECT_EQ(r.err.rfind("velto-fprint-folder: 3 photos (1 undated), 0 skipped", 0), 0u) << r.err;
}

}  // namespace
}  // namespace velto::testing
