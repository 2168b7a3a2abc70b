// The real velto-fprint-report shows the groups velto-fprint makes, and fails as it does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "report_html_scan.h"
#include "testing/test_support.h"

namespace velto::testing {
namespace {

const std::string kFprint = VELTO_FPRINT_BIN;
const std::string kReport = VELTO_REPORT_BIN;
const std::string kExamples = VELTO_EXAMPLES;

struct Runs {
  ProgramResult report;
  ProgramResult fprint;
  std::string html;
  std::vector<long long> groups;  // what velto-fprint wrote
};

// Both programs on the same job file, from the same working folder.
Runs runBoth(const TempDir& dir, const std::string& job, const std::string& workDir) {
  Runs r;
  r.report = runProgram(kReport, {job, dir.file("report.html")}, workDir);
  r.fprint = runProgram(kFprint, {job, dir.file("result.json")}, workDir);
  if (exists(dir.file("report.html"))) r.html = readFile(dir.file("report.html"));
  if (exists(dir.file("result.json"))) r.groups = resultGroups(readFile(dir.file("result.json")));
  return r;
}

float thresholdOf(const std::string& html) {
  const std::vector<Tag> t = findTags(html, "line", "threshold");
  EXPECT_EQ(t.size(), 1u);
  return t.empty() ? -1.0f : std::stof(t[0].attrs.at("data-value"));
}

TEST(ReportE2E, ExampleJobPageMatchesTheResult) {
  TempDir dir;
  const Runs r = runBoth(dir, "job.json", kExamples);
  ASSERT_EQ(r.report.status, 0) << r.report.err;
  EXPECT_EQ(r.report.err, "");
  EXPECT_EQ(r.report.out, "");
  ASSERT_EQ(r.fprint.status, 0);
  EXPECT_EQ(r.groups, (std::vector<long long>{1, 1, 1, 2, 2, 2, 3, 3, 4, 4}));

  // Self-contained: nothing the browser would fetch.
  EXPECT_EQ(r.html.find("http://"), std::string::npos);
  EXPECT_EQ(r.html.find("https://"), std::string::npos);
  EXPECT_EQ(r.html.find("src=\"http"), std::string::npos);
  EXPECT_EQ(r.html.find("<link"), std::string::npos);

  EXPECT_EQ(findTags(r.html, "figure", "tile").size(), 10u);
  EXPECT_EQ(tileGroups(r.html), r.groups);
  for (const Tag& img : findTags(r.html, "img")) {
    EXPECT_EQ(img.attrs.at("src").rfind("data:image/jpeg;base64,/9j/", 0), 0u);
    EXPECT_EQ(std::max(std::stoi(img.attrs.at("width")), std::stoi(img.attrs.at("height"))), 160);
  }
  EXPECT_EQ(findTags(r.html, "img").size(), 10u);

  const std::vector<Tag> points = findTags(r.html, "circle", "gap");
  ASSERT_EQ(points.size(), 9u);
  for (size_t i = 0; i < points.size(); ++i)
    EXPECT_EQ(points[i].attrs.at("data-gap"), std::to_string(i));
  // One change of time group: too few scores for a median, so the default.
  EXPECT_EQ(thresholdOf(r.html), 0.54f);
  // The cuts shown are where velto-fprint starts a new group inside a time group.
  std::vector<std::string> cuts;
  for (const Tag& p : findTags(r.html, "circle", "cut")) cuts.push_back(p.attrs.at("data-gap"));
  EXPECT_EQ(cuts, (std::vector<std::string>{"2", "7"}));
  for (const std::string& gap : cuts) {
    EXPECT_GT(std::stof(points[std::stoul(gap)].attrs.at("data-score")), 0.54f);
  }
}

TEST(ReportE2E, ThresholdIsTheMedianOfTheTimeGroupChanges) {
  // Four time groups over the example photos: three changes between touching runs, so the
  // threshold is their median, clamped.
  TempDir dir;
  const std::string p = kExamples + "/photos/";
  writeFile(dir.file("job.json"),
            jobText({p + "cat_1.jpg", p + "cat_2.jpg", p + "cat_3.jpg", p + "coffee_1.jpg",
                     p + "coffee_2.jpg", p + "coffee_3.jpg", p + "astronaut_1.jpg",
                     p + "astronaut_2.jpg", p + "rocket_1.jpg", p + "rocket_2.jpg"},
                    {1, 1, 1, 2, 2, 2, 3, 3, 4, 4}));
  const Runs r = runBoth(dir, dir.file("job.json"), "");
  ASSERT_EQ(r.report.status, 0) << r.report.err;
  EXPECT_EQ(tileGroups(r.html), r.groups);
  std::vector<std::string> changes;
  std::vector<float> scores;
  for (const Tag& t : findTags(r.html, "circle", "calibrates")) {
    changes.push_back(t.attrs.at("data-gap"));
    scores.push_back(std::stof(t.attrs.at("data-score")));
  }
  EXPECT_EQ(changes, (std::vector<std::string>{"2", "5", "7"}));
  // The line is drawn at the middle one of the three scores, or at the bound it lies beyond.
  std::sort(scores.begin(), scores.end());
  EXPECT_EQ(thresholdOf(r.html), std::clamp(scores[1], 0.45f, 0.62f));
  EXPECT_NE(r.html.find("data-key=\"default\" data-value=\"0\""), std::string::npos);
  EXPECT_NE(r.html.find("data-key=\"thresholdScores\" data-value=\"3\""), std::string::npos);
}

TEST(ReportE2E, BrokenUndatedAndOddlyNamedPhotosAreShownAsSuch) {
  TempDir dir;
  const std::string p = kExamples + "/photos/";
  const std::string odd = dir.file("missing \"<b>&'.jpg");
  writeFile(dir.file("text.jpg"), "not an image\n");
  writeFile(dir.file("job.json"),
            jobText({p + "cat_1.jpg", odd, p + "cat_2.jpg", p + "coffee_1.jpg",
                     dir.file("text.jpg"), p + "coffee_2.jpg", p + "coffee_3.jpg"},
                    {1, 1, 1, 0, 2, 2, 2}));
  const Runs r = runBoth(dir, dir.file("job.json"), "");
  ASSERT_EQ(r.report.status, 0) << r.report.err;
  EXPECT_EQ(r.report.err, "");
  EXPECT_EQ(tileGroups(r.html), r.groups);
  const std::vector<Tag> tiles = findTags(r.html, "figure", "tile");
  ASSERT_EQ(tiles.size(), 7u);
  EXPECT_TRUE(tiles[1].hasClass("undecoded"));
  EXPECT_EQ(tiles[1].attrs.at("data-print"), "none");
  EXPECT_TRUE(tiles[4].hasClass("undecoded"));
  EXPECT_EQ(tiles[3].attrs.at("data-group"), "0");
  EXPECT_EQ(tiles[3].attrs.at("data-print"),
            "unused");  // a print, but undated photos are not scored
  EXPECT_FALSE(tiles[3].hasClass("noprint"));
  EXPECT_EQ(findTags(r.html, "div", "placeholder").size(), 2u);
  EXPECT_EQ(r.html.find("\"<b>"), std::string::npos);
  EXPECT_NE(r.html.find("missing &quot;&lt;b&gt;&amp;&#39;.jpg"), std::string::npos);
}

TEST(ReportE2E, UsagePrintsItsOwnCommandLine) {
  TempDir dir;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"job.json"}, {"job.json", dir.file("r.html"), "x"}}) {
    const ProgramResult r = runProgram(kReport, args, kExamples);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "usage: velto-fprint-report <input.json> <report.html>\n");
    EXPECT_EQ(r.out, "");
  }
  EXPECT_TRUE(listFolder(dir.path()).empty());
}

TEST(ReportE2E, UnwritableReportPathFailsWithTheReason) {
  TempDir dir;
  const std::string path = dir.file("no-such-folder/report.html");
  const ProgramResult r = runProgram(kReport, {"job.json", path}, kExamples);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "could not write " + path + ": No such file or directory\n");
  EXPECT_EQ(r.out, "");
}

TEST(ReportE2E, BadJobsFailWithVeltoFprintsMessagesAndKeepTheOldReport) {
  TempDir dir;
  writeFile(dir.file("text.jpg"), "not an image\n");
  const std::vector<std::string> jobs = {
      "[]", R"({"timeGroups":[]})", R"({"photos":[]})", R"({"photos":["a"],"timeGroups":[]})",
      jobText({dir.file("text.jpg"), dir.file("gone.jpg")}, {1, 1})};
  for (const std::string& job : jobs) {
    writeFile(dir.file("job.json"), job);
    writeFile(dir.file("report.html"), "old");
    const Runs r = runBoth(dir, dir.file("job.json"), "");
    EXPECT_EQ(r.report.status, 1) << job;
    EXPECT_NE(r.report.err, "");
    EXPECT_EQ(r.report.err, r.fprint.err) << job;
    EXPECT_EQ(r.report.out, "");
    EXPECT_EQ(r.html, "old");
  }
  const ProgramResult missing =
      runProgram(kReport, {dir.file("none.json"), dir.file("report.html")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "could not read " + dir.file("none.json") + "\n");
}

TEST(ReportE2E, EmptyJobGivesAPageWithoutTiles) {
  TempDir dir;
  writeFile(dir.file("job.json"), R"({"photos":[],"timeGroups":[]})");
  const Runs r = runBoth(dir, dir.file("job.json"), "");
  ASSERT_EQ(r.report.status, 0) << r.report.err;
  EXPECT_TRUE(findTags(r.html, "figure", "tile").empty());
  EXPECT_NE(r.html.find("</html>"), std::string::npos);
}

}  // namespace
}  // namespace velto::testing
