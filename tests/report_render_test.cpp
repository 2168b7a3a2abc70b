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

TEST(ReportPage, HostilePathsStayText) {
  const std::string odd = R"(x"><script>alert(1)</script><img src=http://e/ onerror=y>&.jpg)";
  const std::string html = renderReport(sampleData(odd));
  EXPECT_EQ(html.find("<script>alert"), std::string::npos);
  EXPECT_EQ(html.find("<img src=http"), std::string::npos);
  EXPECT_EQ(findTags(html, "script").size(), 1u);  // the page's own
  EXPECT_NE(html.find("title=\"" + htmlEscape(odd) + "\""), std::string::npos);
}

}  // namespace
}  // namespace velto::testing
