#include "report/plot_svg.h"

#include <algorithm>
#include <cmath>

#include "report/html_text.h"

namespace velto {

namespace {

std::string num(double v) { return fixedNumber(v, 2); }

// A title for the gap between photos i and i + 1, numbered from 1 as on the contact sheet.
std::string gapTitle(int64_t i, const GapEntry& gap) {
  std::string title =
      "gap " + std::to_string(i + 1) + " (photos " + std::to_string(i + 1) + " | " +
      std::to_string(i + 2) + "): score " +
      (std::isnan(gap.score) ? std::string("NaN") : fixedNumber(static_cast<double>(gap.score), 4));
  if (gap.seriesEvidence) {
    title += ", series evidence " + fixedNumber(*gap.seriesEvidence, 3) + " (scores " +
             fixedNumber(static_cast<double>(gap.windowScores[0]), 3) + ", " +
             fixedNumber(static_cast<double>(gap.windowScores[1]), 3) + " at 1, 2 photos)";
  }
  if (gap.cut) title += ", cut";
  if (gap.cutDistance)
    title += ", time-group change (sets the threshold)";
  else if (gap.timeGroupChange)
    title += ", time-group change";
  return title;
}

// Background bands for the stretches of one time group, alternating in shade, and one for
// each undated photo, with their labels below the photo numbers.
void appendBands(std::string& svg, const ReportData& data, const PlotGeometry& g) {
  const auto n = static_cast<int64_t>(data.photos.size());
  int64_t shade = 0;
  for (int64_t lo = 0; lo < n;) {
    const int64_t t = data.photos[lo].timeGroup;
    int64_t hi = lo;
    while (t >= 1 && hi + 1 < n && data.photos[hi + 1].timeGroup == t) ++hi;
    const double x0 = g.left + g.step * static_cast<double>(lo);
    const double w = g.step * static_cast<double>(hi - lo + 1);
    const std::string label = t >= 1 ? "T" + std::to_string(t) : "undated";
    const std::string cls = t >= 1 ? "run run" + std::to_string(shade++ % 2) : "run undated";
    svg += "<rect class=\"" + cls + "\" x=\"" + num(x0) + "\" y=\"" + num(g.top) + "\" width=\"" +
           num(w) + "\" height=\"" + num(g.plotHeight) + "\"><title>" +
           htmlEscape(t >= 1 ? "time group " + std::to_string(t) + ": photos " +
                                   std::to_string(lo + 1) + " to " + std::to_string(hi + 1)
                             : "undated photo " + std::to_string(lo + 1)) +
           "</title></rect>";
    if (w >= 14) {
      svg += "<text class=\"runlabel\" x=\"" + num(x0 + w / 2) + "\" y=\"" +
             num(g.top + g.plotHeight + 34) + "\">" + (w >= 56 || t >= 1 ? label : "u") + "</text>";
    }
    lo = hi + 1;
  }
}

void appendAxes(std::string& svg, const ReportData& data, const PlotGeometry& g) {
  const double right = g.width - 20;
  // Ticks every 0.1, or every 0.2 once there would be more than eight of them.
  const int64_t tick = g.yMax > 0.85 ? 2 : 1;
  for (int64_t k = 0; static_cast<double>(k) / 10 <= g.yMax + 1e-9; k += tick) {
    const double v = static_cast<double>(k) / 10;
    const double y = g.scoreY(v);
    svg += "<line class=\"grid\" x1=\"" + num(g.left) + "\" x2=\"" + num(right) + "\" y1=\"" +
           num(y) + "\" y2=\"" + num(y) + "\"/>";
    svg += "<text class=\"ytick\" x=\"" + num(g.left - 6) + "\" y=\"" + num(y + 4) + "\">" +
           fixedNumber(v, 1) + "</text>";
  }
  // Photo numbers, thinned out so that they never overlap.
  const auto n = static_cast<int64_t>(data.photos.size());
  const auto every = std::max<int64_t>(1, static_cast<int64_t>(std::ceil(26.0 / g.step)));
  for (int64_t i = 0; i < n; i += every) {
    svg += "<text class=\"xtick\" x=\"" + num(g.photoX(i)) + "\" y=\"" +
           num(g.top + g.plotHeight + 16) + "\">" + std::to_string(i + 1) + "</text>";
  }
  svg += "<text class=\"axis\" x=\"12\" y=\"" + num(g.top + g.plotHeight / 2) +
         "\" transform=\"rotate(-90 12 " + num(g.top + g.plotHeight / 2) +
         ")\">boundary score</text>";
}

void appendGapLines(std::string& svg, const ReportData& data, const PlotGeometry& g) {
  for (size_t i = 0; i < data.gaps.size(); ++i) {
    const GapEntry& gap = data.gaps[i];
    if (!gap.timeGroupChange && !gap.cut) continue;
    const double x = g.gapX(static_cast<int64_t>(i));
    const std::string cls = gap.cut ? "cut-line" : "tg-change";
    svg += "<line class=\"" + cls + "\" data-gap=\"" + std::to_string(i) + "\" x1=\"" + num(x) +
           "\" x2=\"" + num(x) + "\" y1=\"" + num(g.top) + "\" y2=\"" + num(g.top + g.plotHeight) +
           "\"/>";
  }
}

void appendThreshold(std::string& svg, const ReportData& data, const PlotGeometry& g) {
  const double y = g.scoreY(static_cast<double>(data.tSplit));
  svg += "<line class=\"threshold\" data-value=\"" + exactNumber(data.tSplit) + "\" x1=\"" +
         num(g.left) + "\" x2=\"" + num(g.width - 20) + "\" y1=\"" + num(y) + "\" y2=\"" + num(y) +
         "\"><title>split threshold " + fixedNumber(static_cast<double>(data.tSplit), 4) +
         "</title></line>";
  svg += "<text class=\"thresholdlabel\" x=\"" + num(g.width - 22) + "\" y=\"" + num(y - 5) +
         "\">tSplit " + fixedNumber(static_cast<double>(data.tSplit), 3) +
         (data.tSplitIsDefault ? " (default)" : "") + "</text>";
}

void appendPoints(std::string& svg, const ReportData& data, const PlotGeometry& g) {
  const auto yOf = [&](float score) {
    return g.scoreY(std::isnan(score) ? 0.0 : static_cast<double>(score));
  };
  std::string points;
  for (size_t i = 0; i < data.gaps.size(); ++i) {
    points +=
        (i ? " " : "") + num(g.gapX(static_cast<int64_t>(i))) + "," + num(yOf(data.gaps[i].score));
  }
  svg += "<polyline class=\"scores\" points=\"" + points + "\"/>";
  for (size_t i = 0; i < data.gaps.size(); ++i) {
    const GapEntry& gap = data.gaps[i];
    const auto gi = static_cast<int64_t>(i);
    std::string cls = "gap";
    if (gap.cut) cls += " cut";
    if (gap.timeGroupChange) cls += " tg";
    if (gap.cutDistance) cls += " calibrates";
    if (std::isnan(gap.score)) cls += " nan";
    const std::string evidence =
        gap.seriesEvidence ? "\" data-evidence=\"" + fixedNumber(*gap.seriesEvidence, 6) : "";
    svg += "<circle class=\"" + cls + "\" data-gap=\"" + std::to_string(i) + "\" data-score=\"" +
           exactNumber(gap.score) + evidence + "\" cx=\"" + num(g.gapX(gi)) + "\" cy=\"" +
           num(yOf(gap.score)) + "\" r=\"" + (gap.cut ? "5.5" : "4.5") + "\"><title>" +
           htmlEscape(gapTitle(gi, gap)) + "</title></circle>";
  }
}

}  // namespace

PlotGeometry plotGeometry(const ReportData& data) {
  PlotGeometry g;
  g.photos = static_cast<int64_t>(data.photos.size());
  g.left = 56;
  g.top = 22;
  g.plotHeight = 220;
  // About 880 units for the whole sequence, but never so tight that points merge, nor so
  // loose that a short job looks like a few dots.
  g.step = std::clamp(880.0 / static_cast<double>(std::max<int64_t>(g.photos, 1)), 10.0, 96.0);
  double top = std::max(0.7, static_cast<double>(data.tSplit));
  for (const GapEntry& gap : data.gaps) {
    if (std::isfinite(gap.score)) top = std::max(top, static_cast<double>(gap.score));
  }
  g.yMax = std::ceil((top + 0.02) * 10) / 10;
  g.width = g.left + g.step * static_cast<double>(g.photos) + 20;
  g.height = g.top + g.plotHeight + 46;
  return g;
}

std::string scorePlotSvg(const ReportData& data) {
  if (data.gaps.empty()) {
    return "<p class=\"note\">Fewer than two photos: there is no gap to score.</p>";
  }
  const PlotGeometry g = plotGeometry(data);
  std::string svg = "<svg class=\"plot\" width=\"" + num(g.width) + "\" height=\"" + num(g.height) +
                    "\" viewBox=\"0 0 " + num(g.width) + " " + num(g.height) + "\" data-y-max=\"" +
                    fixedNumber(g.yMax, 1) + "\" role=\"img\" aria-label=\"boundary scores\">";
  appendBands(svg, data, g);
  appendAxes(svg, data, g);
  appendGapLines(svg, data, g);
  appendThreshold(svg, data, g);
  appendPoints(svg, data, g);
  return svg + "</svg>";
}

}  // namespace velto
