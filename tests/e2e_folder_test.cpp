// The real velto-fprint-folder on copies of the example photos with capture times written into
// them by the exiv2 program: order, time groups and groups as velto-fprint makes them, the
// sidecars it merges, and failures of single folders and sidecars.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <map>
#include <opencv2/imgcodecs.hpp>
#include <sstream>

#include "testing/test_support.h"

namespace velto::testing {
namespace {

const std::string kExiv2 = "/usr/bin/exiv2";
// What a photo manager left: its own properties (a struct sequence, a language alternative, a
// namespace Exiv2 does not know), tags of the user's and an earlier run's series keyword.
const std::string kSidecar = VELTO_TEST_DATA "/sidecar/photo-manager.xmp";

struct Row {
  std::string path, captureTime, timeSource;
  long long timeGroup = -1, group = -1;
};

std::vector<Row> csvRows(const std::string& csv) {
  std::istringstream in(csv);
  std::string line, timeGroup, group;
  std::getline(in, line);
  EXPECT_EQ(line, "path,captureTime,timeSource,timeGroup,group");
  std::vector<Row> rows;
  for (Row r; std::getline(in, r.path, ',') && std::getline(in, r.captureTime, ',') &&
              std::getline(in, r.timeSource, ',') && std::getline(in, timeGroup, ',') &&
              std::getline(in, group);) {
    r.timeGroup = std::stoll(timeGroup);
    r.group = std::stoll(group);
    rows.push_back(r);
  }
  return rows;
}

// Sets the capture time of `file` to 2026-12-07 `time` ("14:03:00"), with sub-seconds and offset
// if given, with exiv2; the test fails if exiv2 does.
void setCaptureTime(const std::string& file, const std::string& time,
                    const std::string& subSeconds = "", const std::string& offset = "") {
  ASSERT_EQ(::access(kExiv2.c_str(), X_OK), 0)
      << "the tests write capture times with exiv2: tools/install-deps.sh exiv2";
  std::vector<std::string> args = {"-M", "set Exif.Photo.DateTimeOriginal 2026:12:07 " + time};
  if (!subSeconds.empty())
    args.insert(args.end(), {"-M", "set Exif.Photo.SubSecTimeOriginal " + subSeconds});
  if (!offset.empty())
    args.insert(args.end(), {"-M", "set Exif.Photo.OffsetTimeOriginal " + offset});
  args.push_back(file);
  const ProgramResult r = runProgram(kExiv2, args);
  ASSERT_EQ(r.status, 0) << r.err;
}

// A copy of the example photo of the same file name at `name` in `dir`, taken at 2026-12-07
// `time` ("14:03:00"), or undated for an empty time.
void datedCopy(const TempDir& dir, const std::string& name, const std::string& time,
               const std::string& subSeconds = "", const std::string& offset = "") {
  writeFile(dir.file(name), readFile(kPhotos + std::filesystem::path(name).filename().string()));
  if (!time.empty()) setCaptureTime(dir.file(name), time, subSeconds, offset);
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

TEST(FolderE2E, GroupsAsVeltoFprintDoesOnTheEquivalentJob) {
  // Times chosen so that names, sub-second digits, a partial offset and the gap boundary would
  // all give another order or other time groups if handled wrongly.
  TempDir dir;
  std::filesystem::create_directory(dir.file("sub"));
  datedCopy(dir, "rocket_2.jpg", "13:00:00");  // first by time, last by name
  datedCopy(dir, "cat_1.jpg", "14:00:00");
  datedCopy(dir, "cat_2.jpg", "14:00:00", "20");    // .20 s
  datedCopy(dir, "cat_3.jpg", "14:00:00", "100");   // .100 s: before cat_2
  datedCopy(dir, "coffee_1.jpg", "14:10:00", "2");  // exactly 600 s after cat_2: same group
  datedCopy(dir, "coffee_2.jpg", "14:10:30");
  // 600.01 s later: a new time group. Not every photo records its offset, so wall-clock times
  // count (not 09:20 UTC).
  datedCopy(dir, "coffee_3.jpg", "14:20:30", "01", "+05:00");
  datedCopy(dir, "astronaut_1.jpg", "14:21:00");
  datedCopy(dir, "sub/astronaut_2.jpg", "14:21:00");  // same time: path order
  datedCopy(dir, "sub/rocket_1.jpg", "");
  writeFile(dir.file("notes.jpg"), "not a photo, whatever its name");
  ASSERT_EQ(::mkfifo(dir.file("sub/pipe").c_str(), 0600), 0);

  const ProgramResult r =
      runProgram(kFolder, {"--recursive", "--undated", "last", "--rules", "platform", "--report",
                           dir.file("report.html"), dir.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string d = dir.path() + "/";
  std::vector<std::string> seen, paths;  // seen: path, time group, capture time
  std::vector<long long> timeGroups, groups;
  for (const Row& row : csvRows(r.out)) {
    seen.push_back(row.path.substr(d.size()) + " " + std::to_string(row.timeGroup) + " " +
                   row.captureTime);
    paths.push_back(row.path);
    timeGroups.push_back(row.timeGroup);
    groups.push_back(row.group);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "rocket_2.jpg 1 2026-12-07T13:00:00", "cat_1.jpg 2 2026-12-07T14:00:00",
                      "cat_3.jpg 2 2026-12-07T14:00:00.100", "cat_2.jpg 2 2026-12-07T14:00:00.20",
                      "coffee_1.jpg 2 2026-12-07T14:10:00.2", "coffee_2.jpg 2 2026-12-07T14:10:30",
                      "coffee_3.jpg 3 2026-12-07T14:20:30.01+05:00",
                      "astronaut_1.jpg 3 2026-12-07T14:21:00",
                      "sub/astronaut_2.jpg 3 2026-12-07T14:21:00", "sub/rocket_1.jpg 0 "}));
  ASSERT_EQ(groups.size(), 10u);

  // velto-fprint on the same photos and time groups makes exactly the same groups.
  writeJob(dir.file("job.json"), paths, timeGroups);
  ASSERT_EQ(runProgram(kFprint, {dir.file("job.json"), dir.file("result.json")}).status, 0);
  EXPECT_EQ(groups, resultGroups(readFile(dir.file("result.json"))));
  EXPECT_NE(groups[3], groups[4]) << "the cats and the coffee: a cut inside a time group";
  EXPECT_EQ(tileGroups(readFile(dir.file("report.html"))), groups);
  std::map<long long, int> sizes;
  for (const long long g : groups) sizes[g] += g > 0 ? 1 : 0;
  const auto series =
      std::count_if(sizes.begin(), sizes.end(), [](auto& s) { return s.second > 1; });
  EXPECT_EQ(r.err, "velto-fprint-folder: 10 photos (1 undated), 2 skipped, " +
                       std::to_string(series) + " series, 0 sidecars written\n");

  // By default the series grouping groups them: as velto-fprint-replay --rules series does over
  // the prints velto-fprint-embed records for the same job.
  const ProgramResult bySeries =
      runProgram(kFolder, {"--recursive", "--undated", "last", dir.path()});
  ASSERT_EQ(bySeries.status, 0) << bySeries.err;
  std::vector<long long> seriesGroups;
  for (const Row& row : csvRows(bySeries.out)) seriesGroups.push_back(row.group);
  ASSERT_EQ(runProgram(kEmbed, {dir.file("job.json"), dir.file("prints")}).status, 0);
  ASSERT_EQ(runProgram(kReplay,
                       {"--rules", "series", dir.file("prints/job.json"), dir.file("series.json")})
                .status,
            0);
  EXPECT_EQ(seriesGroups, resultGroups(readFile(dir.file("series.json"))));

  // The JSON listing says the same (its other fields: the test of names that are not UTF-8).
  const ProgramResult json =
      runProgram(kFolder, {"--json", "--recursive", "--undated", "last", dir.path()});
  EXPECT_TRUE(contains(json.out, "{\"path\":\"" + d +
                                     "sub/rocket_1.jpg\",\"captureTime\":null,"
                                     "\"timeSource\":null,\"timeGroup\":0,\"group\":0}\n]\n"));
}

// Four pairs of one subject each, seconds apart: one time group. The series grouping, the
// default, parts every pair; the fixed rules' three-photo windows blur two of them together.
TEST(FolderE2E, SeriesGroupingByDefaultFixedRulesOnRequest) {
  TempDir dir;
  const std::vector<std::string> names = {"astronaut_1.jpg", "astronaut_2.jpg", "rocket_1.jpg",
                                          "rocket_2.jpg",    "coffee_1.jpg",    "coffee_2.jpg",
                                          "cat_1.jpg",       "cat_2.jpg"};
  for (size_t i = 0; i < names.size(); ++i) {
    datedCopy(dir, names[i], "10:00:0" + std::to_string(i));
  }
  const auto groupsOf = [&](const std::vector<std::string>& options) {
    std::vector<std::string> args = options;
    args.push_back(dir.path());
    const ProgramResult r = runProgram(kFolder, args);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<long long> groups;
    for (const Row& row : csvRows(r.out)) groups.push_back(row.group);
    return groups;
  };
  EXPECT_EQ(groupsOf({}), (std::vector<long long>{1, 1, 2, 2, 3, 3, 4, 4}));
  EXPECT_EQ(groupsOf({"--rules", "series"}), (std::vector<long long>{1, 1, 2, 2, 3, 3, 4, 4}));
  EXPECT_EQ(groupsOf({"--rules", "platform"}), (std::vector<long long>{1, 1, 2, 2, 2, 2, 3, 3}));
  EXPECT_EQ(runProgram(kFolder, {"--rules", "fixed", dir.path()}).err,
            "velto-fprint-folder: --rules takes series or platform, not \"fixed\"\n");
}

TEST(FolderE2E, SidecarsAreMergedKeepingForeignPropertiesAndRerunsChangeNothing) {
  TempDir dir;
  const std::vector<std::string> photos = {"cat_1.jpg", "cat_2.jpg", "cat_3.jpg", "coffee_1.jpg"};
  const std::vector<std::string> times = {"14:03:00", "14:03:01", "14:03:02", "18:00:00"};
  for (size_t i = 0; i < photos.size(); ++i) datedCopy(dir, photos[i], times[i]);  // coffee alone
  const std::string cat1 = dir.file("cat_1.jpg.xmp");
  const std::string coffee = dir.file("coffee_1.jpg.xmp");
  // cat_1's sidecar is a link into the manager's own store; a dangling sidecar link of a photo
  // that is gone is neither a photo nor a skipped file.
  TempDir store;
  for (const std::string& sidecar : {store.file("cat_1.xmp"), coffee}) {
    writeFile(sidecar, readFile(kSidecar));
  }
  ASSERT_EQ(::symlink(store.file("cat_1.xmp").c_str(), cat1.c_str()), 0);
  ASSERT_EQ(::symlink("gone.xmp", dir.file("gone.jpg.xmp").c_str()), 0);
  std::map<std::string, std::string> files;  // name: bytes, of the photos and later sidecars
  for (const std::string& name : photos) files[name] = readFile(dir.file(name));
  // The foreign properties as they were, the old series keyword replaced by `leaf`, if any.
  const std::vector<std::string> before = xmpProperties(cat1);
  const auto merged = [&before](const std::string& leaf) {
    std::vector<std::string> lines;
    std::copy_if(before.begin(), before.end(), std::back_inserter(lines),
                 [](const std::string& l) { return l.find("9 photos") == std::string::npos; });
    const auto series = [&leaf](const std::string& path) {
      return leaf.empty() ? "" : ", " + path + leaf;
    };
    lines.insert(lines.end(),
                 {"Xmp.dc.subject XmpBag Paris" + series(""),
                  "Xmp.digiKam.TagsList XmpSeq Places/Paris" + series("Series/"),
                  "Xmp.lr.hierarchicalSubject XmpBag Places|Paris" + series("Series|")});
    std::sort(lines.begin(), lines.end());
    return lines;
  };

  const ProgramResult first = runProgram(kFolder, {"--write-sidecars", dir.path()});
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.err,
            "velto-fprint-folder: 4 photos (0 by file time), 0 skipped, 1 series, "
            "4 sidecars written\n");
  const std::string leaf = "2026-12-07 14-03 (3 photos)";
  EXPECT_EQ(xmpProperties(store.file("cat_1.xmp")), merged(leaf));
  struct stat link {};
  EXPECT_TRUE(::lstat(cat1.c_str(), &link) == 0 && S_ISLNK(link.st_mode));
  EXPECT_EQ(xmpProperties(dir.file("cat_3.jpg.xmp")),
            (std::vector<std::string>{"Xmp.dc.subject XmpBag " + leaf,
                                      "Xmp.digiKam.TagsList XmpSeq Series/" + leaf,
                                      "Xmp.lr.hierarchicalSubject XmpBag Series|" + leaf}));
  EXPECT_EQ(xmpProperties(coffee), merged(""));  // in no series: only the old keyword goes

  // Again: nothing to change, nothing written, the photos never touched.
  for (const std::string& name : listFolder(dir.path())) {
    if (name != "gone.jpg.xmp") files.try_emplace(name, readFile(dir.file(name)));
  }
  EXPECT_EQ(files.size(), 8u);  // four photos, four sidecars, no temporary files
  const ProgramResult second = runProgram(kFolder, {"--write-sidecars", dir.path()});
  EXPECT_EQ(second.status, 0);
  EXPECT_TRUE(contains(second.err, ", 0 sidecars written"));
  for (const auto& [name, bytes] : files) EXPECT_EQ(readFile(dir.file(name)), bytes) << name;

  // A dry run with a gap that leaves every photo alone says what would go and changes nothing;
  // a sidecar that is not XMP is reported and left as it is.
  writeFile(dir.file("cat_2.jpg.xmp"), files["cat_2.jpg.xmp"] = "not XMP at all <");
  const ProgramResult dry =
      runProgram(kFolder, {"--write-sidecars", "--dry-run", "--gap", "0.5", dir.path()});
  EXPECT_EQ(dry.status, 1);
  EXPECT_TRUE(contains(dry.err, "would update " + cat1 + ": remove the series keyword\n"));
  EXPECT_TRUE(contains(dry.err, "could not write sidecar " + dir.file("cat_2.jpg.xmp") + ": "));
  EXPECT_TRUE(contains(dry.err,
                       ", 2 sidecars would be written, 4 prints from the cache, "
                       "1 failure\n"));
  for (const auto& [name, bytes] : files) EXPECT_EQ(readFile(dir.file(name)), bytes) << name;
}

TEST(FolderE2E, NamesThatAreNotUtf8KeepTheirBytes) {
  TempDir dir;
  const std::string latin1 = "caf\xe9.jpg";  // "café" in Latin-1
  const std::string broken = "b\xff\xfe.jpg";
  writeFile(dir.file(latin1), readFile(kPhotos + "cat_1.jpg"));
  writeFile(dir.file(broken), readFile(kPhotos + "cat_2.jpg"));
  setCaptureTime(dir.file(latin1), "14:03:00");
  setCaptureTime(dir.file(broken), "14:03:01");
  const ProgramResult r = runProgram(kFolder, {"--json", "--write-sidecars", dir.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string d = dir.path() + "/";
  EXPECT_EQ(r.out, "[\n{\"path\":\"" + d +
                       "caf\\udce9.jpg\",\"captureTime\":\"2026-12-07T14:03:00\","
                       "\"timeSource\":\"exif\",\"timeGroup\":1,\"group\":1},\n{\"path\":\"" +
                       d +
                       "b\\udcff\\udcfe.jpg\","
                       "\"captureTime\":\"2026-12-07T14:03:01\",\"timeSource\":\"exif\","
                       "\"timeGroup\":1,\"group\":1}\n]\n");
  EXPECT_TRUE(exists(dir.file(latin1 + ".xmp")));
  EXPECT_TRUE(exists(dir.file(broken + ".xmp")));
  EXPECT_EQ(csvRows(runProgram(kFolder, {dir.path()}).out)[0].path, dir.file(latin1));
}

TEST(FolderE2E, UnreadableFolderAndReadOnlyFolderAreReportedAndTheRunGoesOn) {
  if (runAsNobody({"/usr/bin/test", "-x", kFolder}).status != 0) {
    GTEST_SKIP() << "root, but user 65534 cannot run the program";
  }
  TempDir dir;
  ::chmod(dir.path().c_str(), 0755);
  for (const char* sub : {"ok", "locked", "readonly"})
    std::filesystem::create_directory(dir.file(sub));
  datedCopy(dir, "ok/cat_1.jpg", "14:03:00");
  datedCopy(dir, "ok/cat_2.jpg", "14:03:01");
  datedCopy(dir, "locked/cat_3.jpg", "14:03:02");
  datedCopy(dir, "readonly/coffee_1.jpg", "18:00:00");
  datedCopy(dir, "readonly/coffee_2.jpg", "18:00:01");
  ::chmod(dir.file("ok").c_str(), 0777);
  ::chmod(dir.file("locked").c_str(), 0);
  ::chmod(dir.file("readonly").c_str(), 0555);

  const ProgramResult r = runAsNobody({kFolder, "--recursive", "--write-sidecars", dir.path()});
  EXPECT_EQ(r.status, 1);
  const std::string d = "velto-fprint-folder: could not ";
  EXPECT_TRUE(contains(r.err, d + "read folder " + dir.file("locked") + ": Permission denied\n"));
  for (const char* photo : {"coffee_1.jpg", "coffee_2.jpg"}) {
    EXPECT_TRUE(contains(
        r.err, d + "write sidecar " + dir.file("readonly/") + photo + ".xmp: Permission denied\n"));
  }
  EXPECT_TRUE(contains(r.err,
                       "4 photos (0 by file time), 0 skipped, 2 series, 2 sidecars written, "
                       "3 failures\n"));
  EXPECT_EQ(csvRows(r.out).size(), 4u);
  EXPECT_TRUE(exists(dir.file("ok/cat_1.jpg.xmp")));
  EXPECT_TRUE(exists(dir.file("ok/cat_2.jpg.xmp")));
  EXPECT_EQ(listFolder(dir.file("readonly")),
            (std::vector<std::string>{"coffee_1.jpg", "coffee_2.jpg"}));
}

// Every format velto-fprint decodes that carries Exif gives its capture time: JPEG, PNG, WebP
// and TIFF written by exiv2; HEIC and AVIF by heif-enc from a JPEG, which copies its Exif. The
// photo is 399 pixels wide, so the HEIC is a grid, whose Exif item Exiv2 0.27 does not find.
TEST(FolderE2E, CaptureTimesOfEveryFormat) {
  ASSERT_EQ(::access("/usr/bin/heif-enc", X_OK), 0) << "tools/install-deps.sh libheif-examples";
  TempDir dir;
  const cv::Mat picture = cv::imread(kPhotos + "cat_1.jpg");
  ASSERT_EQ(picture.cols, 399);
  const std::vector<std::string> names = {"a.png", "a.webp", "a.tif", "b.jpg", "c.jpg"};
  for (size_t i = 0; i < names.size(); ++i) {
    ASSERT_TRUE(cv::imwrite(dir.file(names[i]), picture)) << names[i];
    setCaptureTime(dir.file(names[i]), "10:00:0" + std::to_string(i + 1));
  }
  datedCopy(dir, "cat_1.jpg", "10:00:06");
  const std::string heif =
      "/usr/bin/heif-enc -q 30 -o b.heic b.jpg && rm b.jpg && "
      "/usr/bin/heif-enc -A -q 30 -o c.avif c.jpg && rm c.jpg";
  ASSERT_EQ(runProgram("/bin/sh", {"-c", heif}, dir.path()).status, 0);

  const ProgramResult r = runProgram(kFolder, {dir.path()});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> seen;
  for (const Row& row : csvRows(r.out)) {
    seen.push_back(std::filesystem::path(row.path).filename().string() + " " + row.captureTime);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "a.png 2026-12-07T10:00:01", "a.webp 2026-12-07T10:00:02",
                      "a.tif 2026-12-07T10:00:03", "b.heic 2026-12-07T10:00:04",
                      "c.avif 2026-12-07T10:00:05", "cat_1.jpg 2026-12-07T10:00:06"}));
}

// A HEIF file of 800 KB whose boxes nest 100000 deep, beside two dated photos: Exiv2 0.27 alone
// spends minutes and gigabytes on it, holding a copy of every enclosing box. It is left undated
// at once; the others keep their times, and the run ends as usual.
TEST(FolderE2E, DeeplyNestedHeifBoxesAreLeftUndatedAtOnce) {
  TempDir dir;
  datedCopy(dir, "cat_1.jpg", "10:00:01");
  datedCopy(dir, "cat_2.jpg", "10:00:02");
  const auto header = [](size_t size, const std::string& type) {
    return std::string{static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                       static_cast<char>(size >> 8), static_cast<char>(size)} +
           type;
  };
  std::string heif = header(24, "ftyp") + std::string("heic\0\0\0\0mif1heic", 16);
  constexpr size_t kDepth = 100000;
  for (size_t i = 0; i < kDepth; ++i) heif += header(8 * (kDepth - i), "ipco");
  writeFile(dir.file("c.heic"), heif);

  const MeasuredRun r = runMeasured(kFolder, {"--undated", "last", dir.path()}, 60);
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
