// The HTML report: its text encodings and thumbnails, and the real velto-fprint-report, which
// shows the groups velto-fprint makes and fails as it does.
#include <algorithm>
#include <opencv2/imgcodecs.hpp>

#include "report/html_report.h"
#include "report/html_text.h"
#include "report/thumbnails.h"
#include "testing/test_support.h"

namespace velto::testing {
namespace {

TEST(HtmlText, Base64MatchesTheRfcVectorsAndHighBytes) {
  // The prefixes of "foobar"; then bytes of 0x80 and above, which must not be sign-extended
  // into the neighbouring digits.
  const std::string codes[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (size_t n = 0; n < 7; ++n) EXPECT_EQ(base64Encode(std::string("foobar", n)), codes[n]);
  EXPECT_EQ(base64Encode("\xFF\xD8\xFF"), "/9j/");
  EXPECT_EQ(base64Encode("\x80"), "gA==");
}

TEST(HtmlText, EscapeLeavesNoMarkupAndKeepsUtf8) {
  EXPECT_EQ(htmlEscape(R"(a<b>&"c'.jpg)"), "a&lt;b&gt;&amp;&quot;c&#39;.jpg");
  EXPECT_EQ(htmlEscape("caf\xC3\xA9/\xE5\x86\x99.jpg"), "caf\xC3\xA9/\xE5\x86\x99.jpg");
  EXPECT_EQ(htmlEscape(std::string("a\0b\x1b", 4)),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
}

TEST(HtmlText, ExactNumberReadsBackToTheSameFloat) {
  for (const float v : {0.54f, 0.45f, 1.0f / 3.0f, 1.3213f, 0.0f, 1e-7f}) {
    EXPECT_EQ(std::stof(exactNumber(v)), v) << exactNumber(v);
  }
}

TEST(HtmlText, DurationsKeepThreeDigitsInTheirLargestUnit) {
  const std::pair<double, std::string> cases[] = {
      {0.0, "< 1 \u00b5s"},     {4e-7, "< 1 \u00b5s"}, {9.996e-7, "1.00 \u00b5s"},
      {1.7e-5, "17.0 \u00b5s"}, {4.56e-3, "4.56 ms"},  {0.1, "100 ms"},
      {0.9994, "999 ms"},       {0.9996, "1.00 s"},    {9.996, "10.0 s"},
      {12.34, "12.3 s"},        {99.96, "100 s"},      {4321.0, "4321 s"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(durationText(seconds), text) << seconds;
}

// A stage the program did not time gets no row at all; a timed one its seconds to the
// nanosecond for tools and a readable figure for people.
TEST(HtmlReport, SummaryShowsOnlyTheStagesThatWereTimed) {
  ReportData data;
  data.seconds.prints = 1.25;
  data.seconds.grouping = 2.5e-5;
  std::vector<std::string> rows;
  const std::string html = renderReport(data);
  for (const Tag& cell : findTags(html, "td")) {
    if (cell.attrs.at("data-key").ends_with("Seconds")) {
      rows.push_back(cell.attrs.at("data-key") + "=" + cell.attrs.at("data-value"));
    }
  }
  EXPECT_EQ(rows,
            (std::vector<std::string>{"printSeconds=1.250000000", "groupSeconds=0.000025000"}));
  EXPECT_TRUE(contains(html, ">1.25 s<"));
  EXPECT_TRUE(contains(html, ">25.0 \u00b5s<"));

  data.seconds = {0.003, 1.0, 2.0, 0.5};
  rows.clear();
  for (const Tag& cell : findTags(renderReport(data), "td")) {
    if (cell.attrs.at("data-key").ends_with("Seconds")) rows.push_back(cell.attrs.at("data-key"));
  }
  EXPECT_EQ(rows, (std::vector<std::string>{"photoSeconds", "printSeconds", "groupSeconds",
                                            "renderSeconds"}));
}

TEST(Thumbnails, ShrinkToTheLongSideAndKeepColours) {
  // A pure red picture must stay red: a swapped channel order would make it blue.
  const auto t = thumbnailOf(cv::Mat(300, 400, CV_8UC3, cv::Scalar(255, 0, 0)));  // RGB
  ASSERT_TRUE(t);
  EXPECT_EQ(std::pair(t->width, t->height), (std::pair<int64_t, int64_t>(160, 120)));
  const cv::Mat back = cv::imdecode(std::vector<uchar>(t->jpeg.begin(), t->jpeg.end()),
                                    cv::IMREAD_COLOR);  // BGR
  ASSERT_EQ(back.cols, 160);
  EXPECT_GT(back.at<cv::Vec3b>(60, 80)[2], 200);
  EXPECT_LT(back.at<cv::Vec3b>(60, 80)[0], 60);
  const auto small = thumbnailOf(cv::Mat(50, 100, CV_8UC3, cv::Scalar(0, 0, 0)));
  ASSERT_TRUE(small);
  EXPECT_EQ(std::pair(small->width, small->height),
            (std::pair<int64_t, int64_t>(100, 50)));  // never enlarged
  EXPECT_FALSE(thumbnailOf(cv::Mat()));
  EXPECT_FALSE(makeThumbnail("/nonexistent/photo.jpg"));
}

// Example photos by name; absolute paths kept as they are.
std::vector<std::string> photoPaths(std::vector<std::string> names) {
  for (std::string& name : names) name = name.starts_with('/') ? name : kPhotos + name;
  return names;
}

struct Runs {
  ProgramResult report, fprint;
  std::string html;
  std::vector<long long> groups;  // what velto-fprint wrote
};

// Both programs on the same job file, from the same working folder.
Runs runBoth(const TempDir& dir, const std::string& job, const std::string& workDir = "") {
  Runs r;
  r.report = runProgram(kReport, {job, dir.file("report.html")}, workDir);
  r.fprint = runProgram(kFprint, {job, dir.file("result.json")}, workDir);
  r.html = readFile(dir.file("report.html"));
  r.groups = resultGroups(readFile(dir.file("result.json")));
  EXPECT_EQ(tileGroups(r.html), r.groups);
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
  EXPECT_EQ(r.report, kQuiet);
  EXPECT_EQ(r.fprint, kQuiet);
  // Bursts of one subject stay together; two subjects in one time group are split.
  EXPECT_EQ(r.groups, (std::vector<long long>{1, 1, 1, 2, 2, 2, 3, 3, 4, 4}));
  EXPECT_EQ(findTags(r.html, "img").size(), 10u);
  for (const Tag& img : findTags(r.html, "img")) {
    EXPECT_EQ(img.attrs.at("src").rfind("data:image/jpeg;base64,/9j/", 0), 0u);
    EXPECT_EQ(std::max(std::stoi(img.attrs.at("width")), std::stoi(img.attrs.at("height"))), 160);
  }
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

// Under --rules series the page names its rules, its tiles carry the series grouping's groups
// (those of velto-fprint-replay --rules series on the same prints), and every gap inside a run
// shows its evidence, cuts at the strongest.
TEST(ReportE2E, SeriesPageShowsWhatEachCutWasBasedOn) {
  TempDir dir;
  ASSERT_EQ(
      runProgram(kReport, {"--rules", "series", "job.json", dir.file("report.html")}, kExamples),
      kQuiet);
  const std::string html = readFile(dir.file("report.html"));
  EXPECT_TRUE(contains(html, "data-key=\"rules\" data-value=\"series\""));
  ASSERT_EQ(runProgram(kEmbed, {"job.json", dir.file("prints")}, kExamples).status, 0);
  ASSERT_EQ(runProgram(kReplay,
                       {"--rules", "series", dir.file("prints/job.json"), dir.file("series.json")})
                .status,
            0);
  EXPECT_EQ(tileGroups(html), resultGroups(readFile(dir.file("series.json"))));
  int64_t withEvidence = 0;
  for (const Tag& p : findTags(html, "circle", "gap")) {
    if (!p.attrs.count("data-evidence")) continue;
    ++withEvidence;
    if (p.hasClass("cut")) {
      EXPECT_GE(std::stod(p.attrs.at("data-evidence")), 0.45);
    }
  }
  EXPECT_EQ(withEvidence, 8);  // nine gaps, one of them a change of time group
  EXPECT_TRUE(contains(html, "cut by looks, evidence "));

  ASSERT_EQ(runProgram(kReport, {"job.json", dir.file("fixed.html")}, kExamples), kQuiet);
  const std::string fixed = readFile(dir.file("fixed.html"));
  EXPECT_TRUE(contains(fixed, "data-key=\"rules\" data-value=\"platform\""));
  EXPECT_FALSE(contains(fixed, "data-evidence"));
}

TEST(ReportE2E, ThresholdIsTheMedianOfTheTimeGroupChanges) {
  // Four time groups over the example photos (astronaut, cat, coffee, rocket): three changes
  // between touching runs, so the threshold is their median, clamped.
  TempDir dir;
  const Runs r = runBoth(dir, writeJob(dir.file("job.json"), photoPaths(listFolder(kPhotos)),
                                       {1, 1, 2, 2, 2, 3, 3, 3, 4, 4}));
  ASSERT_EQ(r.report.status, 0) << r.report.err;
  std::vector<std::string> changes;
  std::vector<float> scores;
  for (const Tag& t : findTags(r.html, "circle", "calibrates")) {
    changes.push_back(t.attrs.at("data-gap"));
    scores.push_back(std::stof(t.attrs.at("data-score")));
  }
  EXPECT_EQ(changes, (std::vector<std::string>{"1", "4", "7"}));
  // The line is drawn at the middle one of the three scores, or at the bound it lies beyond.
  std::sort(scores.begin(), scores.end());
  EXPECT_EQ(thresholdOf(r.html), std::clamp(scores[1], 0.45f, 0.62f));
  EXPECT_TRUE(contains(r.html, "data-key=\"default\" data-value=\"0\""));
  EXPECT_TRUE(contains(r.html, "data-key=\"thresholdScores\" data-value=\"3\""));
}

// A missing photo with an odd name, a text file named .jpg and an undated photo in a series:
// the broken ones get no print and leave the series whole, and each tile says what it is.
TEST(ReportE2E, BrokenUndatedAndOddlyNamedPhotosAreShownAsSuch) {
  TempDir dir;
  const std::string odd = dir.file("missing \"<b>&'.jpg");
  writeFile(dir.file("text.jpg"), "not an image\n");
  const std::vector<std::string> photos =
      photoPaths({"cat_1.jpg", odd, "cat_2.jpg", dir.file("text.jpg"), "cat_3.jpg", "coffee_1.jpg",
                  "coffee_2.jpg", "coffee_3.jpg", "astronaut_1.jpg"});
  const Runs r = runBoth(dir, writeJob(dir.file("job.json"), photos, {5, 5, 5, 5, 5, 5, 5, 5, 0}));
  EXPECT_EQ(r.report, kQuiet);
  EXPECT_EQ(r.fprint, kQuiet);
  EXPECT_EQ(r.groups, (std::vector<long long>{1, 1, 1, 1, 1, 2, 2, 2, 0}));
  const std::vector<Tag> tiles = findTags(r.html, "figure", "tile");
  ASSERT_EQ(tiles.size(), 9u);
  EXPECT_TRUE(tiles[1].hasClass("undecoded"));
  EXPECT_EQ(tiles[1].attrs.at("data-print"), "none");
  EXPECT_TRUE(tiles[3].hasClass("undecoded"));
  EXPECT_EQ(tiles[8].attrs.at("data-print"), "unused");  // a print, but undated: not scored
  EXPECT_FALSE(tiles[8].hasClass("noprint"));
  EXPECT_EQ(findTags(r.html, "div", "placeholder").size(), 2u);
  EXPECT_EQ(r.html.find("\"<b>"), std::string::npos);
  EXPECT_EQ(tiles[1].attrs.at("title"), htmlEscape(odd));
  EXPECT_TRUE(contains(r.html, "missing &quot;&lt;b&gt;&amp;&#39;.jpg"));
}

TEST(ReportE2E, UsageAndUnwritableReportPathFailWithTheirMessage) {
  TempDir dir;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"job.json"}, {"job.json", dir.file("r.html"), "x"}}) {
    EXPECT_EQ(runProgram(kReport, args, kExamples),
              failure("usage: velto-fprint-report [--rules platform|series] <input.json> "
                      "<report.html>"));
  }
  EXPECT_TRUE(listFolder(dir.path()).empty());
  const std::string path = dir.file("no-such-folder/report.html");
  EXPECT_EQ(runProgram(kReport, {"job.json", path}, kExamples),
            failure("could not write " + path + ": No such file or directory"));
}

// Every job velto-fprint refuses, the report refuses with the same message, keeping the old
// report; the empty job gives a page without tiles.
TEST(ReportE2E, BadJobsFailWithVeltoFprintsMessagesAndKeepTheOldReport) {
  TempDir dir;
  writeFile(dir.file("text.jpg"), "not an image\n");
  const std::vector<std::string> jobs = {
      "[]",
      R"({"timeGroups":[]})",
      R"({"photos":[]})",
      R"({"photos":["a"],"timeGroups":[]})",
      R"({"photos":[")" + dir.file("text.jpg") + R"(","gone.jpg"],"timeGroups":[1,1]})",
      ""};
  for (const std::string& job : jobs) {
    const std::string path = dir.file(job.empty() ? "none.json" : "job.json");  // none: missing
    if (!job.empty()) writeFile(path, job);
    writeFile(dir.file("report.html"), "old");
    const Runs r = runBoth(dir, path);
    EXPECT_EQ(r.report.status, 1) << job;
    EXPECT_NE(r.report.err, "");
    EXPECT_EQ(r.report, r.fprint) << job;
    EXPECT_EQ(r.html, "old");
  }
  writeFile(dir.file("job.json"), R"({"photos":[],"timeGroups":[]})");
  const Runs r = runBoth(dir, dir.file("job.json"));
  ASSERT_EQ(r.report.status, 0) << r.report.err;
  EXPECT_TRUE(findTags(r.html, "figure", "tile").empty());
  EXPECT_TRUE(contains(r.html, "</html>"));
}

}  // namespace
}  // namespace velto::testing
