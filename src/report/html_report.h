#pragma once
// The report as one self-contained HTML page: nothing is loaded from anywhere else (thumbnails
// are data URIs, the plot is inline SVG, style and script are inline).

#include <string>

#include "report/report_data.h"

namespace velto {

// The page: a summary, the contact sheet with a box per result group, and the score plot.
// Every tile carries data-index, data-group, data-time-group and data-print; every plot point
// data-gap and data-score; the threshold line data-value. Every path is HTML-escaped.
std::string renderReport(const ReportData& data);

}  // namespace velto
