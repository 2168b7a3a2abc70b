// The report's building blocks: text encodings, thumbnails, the plot's scale and the page.
#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgcodecs.hpp>

#include "report/html_report.h"
#include "report/html_text.h"
#include "report/plot_svg.h"
#include "report/report_data.h"
#include "report/thumbnails.h"
#include "report_html_scan.h"

namespace velto::testing {
namespace {

TEST(HtmlText, Base64MatchesTheRfcVectorsAndHighBytes) {
  EXPECT_EQ(base64Encode(""), "");
  EXPECT_EQ(base64Encode("f"), "Zg==");
  EXPECT_EQ(base64Encode("fo"), "Zm8=");
  EXPECT_EQ(base64Encode("foo"), "Zm9v");
  EXPECT_EQ(base64Encode("foob"), "Zm9vYg==");
  EXPECT_EQ(base64Encode("fooba"), "Zm9vYmE=");
  EXPECT_EQ(base64Encode("foobar"), "Zm9vYmFy");
  // Bytes of 0x80 and above must not be sign-extended into the neighbouring digits.
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

TEST(Thumbnails, ShrinkToTheLongSideAndKeepColours) {
  // A pure red picture must stay red: a swapped channel order would make it blue.
  const cv::Mat red(300, 400, CV_8UC3, cv::Scalar(255, 0, 0));  // R first, as decodeImage gives
  const auto t = thumbnailOf(red);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->width, 160);
  EXPECT_EQ(t->height, 120);
  const cv::Mat back = cv::imdecode(std::vector<uchar>(t->jpeg.begin(), t->jpeg.end()),
                                    cv::IMREAD_COLOR);  // BGR
  ASSERT_EQ(back.cols, 160);
  const cv::Vec3b px = back.at<cv::Vec3b>(60, 80);
  EXPECT_GT(px[2], 200);
  EXPECT_LT(px[0], 60);

  const cv::Mat small(50, 100, CV_8UC3, cv::Scalar(0, 0, 0));
  const auto s = thumbnailOf(small);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->width, 100);  // never enlarged
  EXPECT_EQ(s->height, 50);
  EXPECT_FALSE(thumbnailOf(cv::Mat()));
  EXPECT_FALSE(makeThumbnail("/nonexistent/photo.jpg"));
}

// A job of six photos, time groups 1 1 (undated) 2 2 2, the third photo without a print.
ReportData sampleData(const std::string& oddPath) {
  Job job;
  job.photos = {"a/one.jpg", "a/two.jpg", oddPath, "b/four.jpg", "b/five.jpg", "b/six.jpg"};
  job.timeGroups = {1, 1, 0, 2, 2, 2};
  FeaturePrints prints;
  prints.dims = 2;
  prints.vectors = {{1, 0}, {1, 0}, {}, {0, 1}, {0, 1}, {1, 0}};
  Grouping g;
  g.D = {0.1f, 0.3f, 0.9f, 0.2f, 0.7f};
  g.runs.emplace_back(0, 1, 1);
  g.runs.emplace_back(3, 5, 2);
  g.tSplit = 0.54f;
  g.cutsAt = {4};
  g.groups = {1, 1, 0, 2, 2, 3};
  std::vector<std::optional<Thumbnail>> thumbs(6, thumbnailOf(cv::Mat(30, 40, CV_8UC3)));
  thumbs[2].reset();
  return collectReportData("job.json", job, prints, g, std::move(thumbs));
}

TEST(ReportPage, TilesSitInTheBoxOfTheirGroup) {
  const std::string html = renderReport(sampleData("x.jpg"));
  const std::vector<Tag> boxes = findTags(html, "div", "group");
  std::vector<std::string> boxGroups;
  for (const Tag& b : boxes) boxGroups.push_back(b.attrs.at("data-group"));
  EXPECT_EQ(boxGroups, (std::vector<std::string>{"1", "0", "2", "3"}));
  // Each tile belongs to the last box opened before it.
  for (const Tag& tile : findTags(html, "figure", "tile")) {
    const Tag* box = nullptr;
    for (const Tag& b : boxes) {
      if (b.offset < tile.offset) box = &b;
    }
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->attrs.at("data-group"), tile.attrs.at("data-group"));
  }
  EXPECT_EQ(tileGroups(html), (std::vector<long long>{1, 1, 0, 2, 2, 3}));
  const std::vector<Tag> tiles = findTags(html, "figure", "tile");
  EXPECT_TRUE(tiles[2].hasClass("undecoded"));
  EXPECT_TRUE(tiles[2].hasClass("noprint"));
  EXPECT_EQ(tiles[2].attrs.at("data-print"), "none");
  EXPECT_EQ(tiles[0].attrs.at("data-print"), "usable");
  EXPECT_EQ(findTags(html, "img").size(), 5u);
  EXPECT_EQ(findTags(html, "div", "placeholder").size(), 1u);
}

TEST(ReportPage, HostilePathsStayText) {
  const std::string odd = R"(x"><script>alert(1)</script><img src=http://e/ onerror=y>&.jpg)";
  const std::string html = renderReport(sampleData(odd));
  EXPECT_EQ(html.find("<script>alert"), std::string::npos);
  EXPECT_EQ(html.find("<img src=http"), std::string::npos);
  EXPECT_EQ(findTags(html, "script").size(), 1u);  // the page's own
  EXPECT_NE(html.find("title=\"" + htmlEscape(odd) + "\""), std::string::npos);
}

TEST(ReportPage, PlotPointsAndThresholdShareOneScale) {
  const ReportData data = sampleData("x.jpg");
  const std::string html = renderReport(data);
  const PlotGeometry g = plotGeometry(data);
  const std::vector<Tag> points = findTags(html, "circle", "gap");
  ASSERT_EQ(points.size(), data.gaps.size());
  for (size_t i = 0; i < points.size(); ++i) {
    EXPECT_EQ(points[i].attrs.at("data-gap"), std::to_string(i));
    EXPECT_EQ(std::stof(points[i].attrs.at("data-score")), data.gaps[i].score);
    const double cy = std::stod(points[i].attrs.at("cy"));
    EXPECT_NEAR(cy, g.scoreY(data.gaps[i].score), 0.01);
    EXPECT_GE(cy, g.top);  // inside the plot
    EXPECT_LE(cy, g.top + g.plotHeight);
  }
  // Higher scores are drawn higher up.
  EXPECT_LT(std::stod(points[2].attrs.at("cy")), std::stod(points[0].attrs.at("cy")));
  const std::vector<Tag> threshold = findTags(html, "line", "threshold");
  ASSERT_EQ(threshold.size(), 1u);
  EXPECT_EQ(std::stof(threshold[0].attrs.at("data-value")), 0.54f);
  EXPECT_NEAR(std::stod(threshold[0].attrs.at("y1")), g.scoreY(0.54), 0.01);
  // The cut at gap 4 and the changes around the undated photo are marked.
  EXPECT_TRUE(points[4].hasClass("cut"));
  EXPECT_TRUE(points[1].hasClass("tg"));
  EXPECT_TRUE(points[2].hasClass("tg"));
  EXPECT_FALSE(points[3].hasClass("tg"));
  EXPECT_EQ(findTags(html, "line", "cut-line").size(), 1u);
}

TEST(ReportPage, CountsInTheSummary) {
  const ReportData d = sampleData("x.jpg");
  EXPECT_EQ(d.datedPhotos, 5);
  EXPECT_EQ(d.printsHad, 5);
  EXPECT_EQ(d.usablePrints, 5);
  EXPECT_EQ(d.groupsMade, 3);
  EXPECT_TRUE(d.tSplitIsDefault);
  // Runs 0..1 and 3..5 are parted by the undated photo: no score sets the threshold.
  for (const GapEntry& gap : d.gaps) EXPECT_FALSE(gap.calibrates);
}

TEST(ReportPage, EmptyJobStillMakesAPage) {
  const std::string html =
      renderReport(collectReportData("job.json", Job{}, FeaturePrints{}, Grouping{}, {}));
  EXPECT_NE(html.find("</html>"), std::string::npos);
  EXPECT_TRUE(findTags(html, "figure", "tile").empty());
  EXPECT_TRUE(findTags(html, "circle", "gap").empty());
}

}  // namespace
}  // namespace velto::testing
