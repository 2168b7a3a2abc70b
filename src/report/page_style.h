#pragma once
// The report page's inline style sheet and script.

#include <string>

namespace velto {

// CSS for the page; system fonts only, so nothing is fetched.
std::string pageStyle();

// The script that shows a plot point's value next to it while the pointer is over it, and
// marks the two photos on either side of that gap on the contact sheet.
std::string pageScript();

}  // namespace velto
