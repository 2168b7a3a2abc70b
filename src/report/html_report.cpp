#include "report/html_report.h"

#include <cmath>
#include <optional>

#include "core/constants.h"
#include "report/html_text.h"
#include "report/page_style.h"
#include "report/plot_svg.h"

namespace velto {

namespace {

std::string baseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

const char* printStateName(PrintState state) {
  switch (state) {
    case PrintState::kUsable:
      return "usable";
    case PrintState::kUnused:
      return "unused";
    case PrintState::kOtherLength:
      return "other-length";
    case PrintState::kNone:
      break;
  }
  return "none";
}

std::string summaryRow(const std::string& key, const std::string& label, const std::string& value,
                       const std::string& shown) {
  return "<tr><th>" + label + "</th><td data-key=\"" + key + "\" data-value=\"" + value + "\">" +
         shown + "</td></tr>";
}

// A stage's time, or nothing when the program did not time that stage.
std::string stageRow(const std::string& key, const std::string& label,
                     std::optional<double> seconds) {
  if (!seconds) return "";
  return summaryRow(key, label, fixedNumber(*seconds, 9), durationText(*seconds));
}

std::string seriesThresholds(const ReportData& d) {
  std::string out;
  for (const float t : d.windowThresholds) {
    out += (out.empty() ? "" : ", ") + fixedNumber(static_cast<double>(t), 3);
  }
  return out;
}

std::string summary(const ReportData& d) {
  const auto n = static_cast<int64_t>(d.photos.size());
  int64_t cuts = 0;
  for (const GapEntry& gap : d.gaps) cuts += gap.cut ? 1 : 0;
  const std::string threshold = fixedNumber(static_cast<double>(d.tSplit), 4);
  const std::string rule = d.tSplitIsDefault
                               ? " (the default: fewer than " + std::to_string(MIN_CUTS_FOR_STATS) +
                                     " scores at time-group changes)"
                               : " (median of the scores at time-group changes, kept within " +
                                     fixedNumber(static_cast<double>(T_SPLIT_FLOOR), 2) + " to " +
                                     fixedNumber(static_cast<double>(T_SPLIT_CEIL), 2) + ")";
  std::string html = "<div class=\"summaries\"><table class=\"summary\">";
  html += summaryRow("photos", "photos", std::to_string(n), std::to_string(n));
  html += summaryRow(
      "dated", "dated photos", std::to_string(d.datedPhotos),
      std::to_string(d.datedPhotos) + " (" + std::to_string(n - d.datedPhotos) + " undated)");
  html += summaryRow("prints", "photos with a print", std::to_string(d.printsHad),
                     std::to_string(d.printsHad));
  html += summaryRow("usable", "usable prints", std::to_string(d.usablePrints),
                     std::to_string(d.usablePrints) + " (dated, of the common length)");
  html += summaryRow("dims", "print length (dims)", std::to_string(d.dims),
                     d.dims >= 1 ? std::to_string(d.dims) : "none (no photo got a print)");
  html += summaryRow("thresholdScores", "scores for the threshold",
                     std::to_string(d.cutDistanceCount), std::to_string(d.cutDistanceCount));
  html += "</table><table class=\"summary\">";
  html += summaryRow("tSplit", "split threshold tSplit", exactNumber(d.tSplit),
                     threshold + htmlEscape(rule));
  html += summaryRow("default", "tSplit is the default", d.tSplitIsDefault ? "1" : "0",
                     d.tSplitIsDefault ? "yes" : "no");
  html += summaryRow("rules", "grouped by", d.rules,
                     d.rules == "series"
                         ? "the series grouping (evidence from windows of 1, 2 and 3 photos, "
                           "thresholds " +
                               seriesThresholds(d) + ")"
                         : "the fixed rules of velto-fprint");
  html +=
      summaryRow("groups", "groups made", std::to_string(d.groupsMade),
                 std::to_string(d.groupsMade) + " (" + std::to_string(cuts) + " cuts by looks)");
  html += stageRow("photoSeconds", "finding photos, capture times", d.seconds.photos);
  html += stageRow("printSeconds", "decoding and network", d.seconds.prints);
  html += stageRow("groupSeconds", "scoring and grouping", d.seconds.grouping);
  html += stageRow("renderSeconds", "thumbnails and page", d.seconds.rendering);
  return html + "</table></div>";
}

std::string tile(int64_t i, const PhotoEntry& photo) {
  const std::string path = htmlEscape(photo.path);
  std::string cls = "tile";
  // Undated photos are never scored; only a missing or odd print is worth a warning.
  if (photo.print == PrintState::kNone || photo.print == PrintState::kOtherLength) {
    cls += " noprint";
  }
  if (!photo.thumbnail) cls += " undecoded";
  std::string html = "<figure class=\"" + cls + "\" data-index=\"" + std::to_string(i) +
                     "\" data-group=\"" + std::to_string(photo.group) + "\" data-time-group=\"" +
                     std::to_string(photo.timeGroup) + "\" data-print=\"" +
                     printStateName(photo.print) + "\" title=\"" + path + "\"><div class=\"pic\">";
  if (photo.thumbnail) {
    html += "<img alt=\"" + path + "\" width=\"" + std::to_string(photo.thumbnail->width) +
            "\" height=\"" + std::to_string(photo.thumbnail->height) +
            "\" src=\"data:image/jpeg;base64," + base64Encode(photo.thumbnail->jpeg) + "\">";
  } else {
    html += "<div class=\"placeholder\" role=\"img\" aria-label=\"" + path +
            "\">cannot be decoded</div>";
  }
  html += "</div><figcaption><b>" + std::to_string(i + 1) + "</b> " +
          htmlEscape(baseName(photo.path)) + "</figcaption>";
  if (photo.print == PrintState::kNone) html += "<span class=\"flag\">no print</span>";
  if (photo.print == PrintState::kOtherLength) {
    html += "<span class=\"flag\">print of another length</span>";
  }
  return html + "</figure>";
}

// Why a new box starts at photo i (i > 0).
std::string boxReason(int64_t i, const ReportData& d) {
  const GapEntry& gap = d.gaps[static_cast<size_t>(i - 1)];
  if (d.photos[i].timeGroup < 1) return "undated";
  if (d.photos[i - 1].timeGroup < 1) return "after an undated photo";
  if (gap.timeGroupChange) return "new time group";
  if (gap.seriesEvidence) {
    return "cut by looks, evidence " + fixedNumber(*gap.seriesEvidence, 2) + " (scores " +
           fixedNumber(static_cast<double>(gap.windowScores[0]), 3) + ", " +
           fixedNumber(static_cast<double>(gap.windowScores[1]), 3) + ", " +
           fixedNumber(static_cast<double>(gap.windowScores[2]), 3) + " at 1, 2, 3 photos)";
  }
  return "cut by looks, score " + fixedNumber(static_cast<double>(gap.score), 3);
}

// One box per result group, each undated photo in a box of its own; box colours alternate
// with the time-group runs, as the bands of the plot do.
std::string contactSheet(const ReportData& d) {
  const auto n = static_cast<int64_t>(d.photos.size());
  if (n == 0) return "<p class=\"note\">The job has no photos.</p>";
  std::string html = "<div id=\"sheet\">";
  int64_t shade = -1;
  for (int64_t lo = 0; lo < n;) {
    const PhotoEntry& first = d.photos[lo];
    int64_t hi = lo;
    while (first.timeGroup >= 1 && hi + 1 < n && d.photos[hi + 1].group == first.group) ++hi;
    const bool dated = first.timeGroup >= 1;
    if (dated && (lo == 0 || d.photos[lo - 1].timeGroup != first.timeGroup)) ++shade;
    const std::string cls = dated ? "group run" + std::to_string(shade % 2) : "group undated";
    html += "<div class=\"" + cls + "\" data-group=\"" + std::to_string(first.group) +
            "\" data-time-group=\"" + std::to_string(first.timeGroup) + "\"><div class=\"head\">";
    html +=
        dated
            ? "<span class=\"gnum\">Group " + std::to_string(first.group) +
                  "</span> <span class=\"tg\">T" + std::to_string(first.timeGroup) + "</span>"
            : std::string("<span class=\"gnum\">Undated</span> <span class=\"tg\">group 0</span>");
    if (lo > 0) html += "<span class=\"why\">" + htmlEscape(boxReason(lo, d)) + "</span>";
    html += "</div><div class=\"tiles\">";
    for (int64_t i = lo; i <= hi; ++i) html += tile(i, d.photos[i]);
    html += "</div></div>";
    lo = hi + 1;
  }
  return html + "</div>";
}

}  // namespace

std::string renderReport(const ReportData& data) {
  const std::string job = htmlEscape(data.jobPath);
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>velto-fprint report: " +
      job + "</title><style>" + pageStyle() +
      "</style></head><body>\n<header><h1>velto-fprint report</h1><p>job <code>" + job +
      "</code></p></header>\n";
  html += "<section id=\"summary-section\"><h2>Summary</h2>" + summary(data) + "</section>\n";
  html +=
      "<section id=\"sheet-section\"><h2>Contact sheet</h2><p class=\"note\">Photos in job "
      "order, one box per result group. Boxes alternate in colour with the time groups "
      "(T<i>n</i>); red tiles have no usable print.</p>" +
      contactSheet(data) + "</section>\n";
  html +=
      "<section id=\"plot-section\"><h2>Boundary scores</h2><p class=\"note\">One point per "
      "gap between neighbouring photos. Blue line: the split threshold; red: accepted cuts; "
      "dashed: time-group changes; hollow points: the scores that set the threshold. Hover "
      "a point for its value.</p><div class=\"plotbox\">" +
      scorePlotSvg(data) + "</div></section>\n";
  html += "<div id=\"tip\" hidden></div><script>" + pageScript() + "</script>\n</body></html>\n";
  return html;
}

}  // namespace velto
