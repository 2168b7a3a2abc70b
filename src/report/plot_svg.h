#pragma once
// The boundary-score plot of the report: one point per gap along the photo sequence, the split
// threshold, time-group runs and changes, accepted cuts. Inline SVG, no script needed.

#include <cstdint>
#include <string>

#include "report/report_data.h"

namespace velto {

// Where things go on the plot, in SVG user units (pixels at 100 % zoom).
struct PlotGeometry {
  int64_t photos = 0;
  double left = 0;        // x where photo 0 starts
  double top = 0;         // y of the score yMax
  double plotHeight = 0;  // y distance from yMax down to score 0
  double step = 0;        // x distance between neighbouring photos
  double yMax = 0;        // the score at the top of the plot
  double width = 0;
  double height = 0;

  double photoX(int64_t i) const { return left + step * (static_cast<double>(i) + 0.5); }
  double gapX(int64_t i) const { return left + step * static_cast<double>(i + 1); }
  double scoreY(double score) const { return top + plotHeight * (1.0 - score / yMax); }
};

// The layout for `data`: wide enough for every photo, tall enough for every score and tSplit.
PlotGeometry plotGeometry(const ReportData& data);

// The <svg> element; an explanatory paragraph instead when there is no gap to plot.
std::string scorePlotSvg(const ReportData& data);

}  // namespace velto
