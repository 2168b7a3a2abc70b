#pragma once
// The programs' edge: the one way a run ends with a failure.

#include <string>

namespace velto {

// Writes `message` and a line feed to standard error in one write and ends the process with
// exit status 1. The only way the program reports a failure.
[[noreturn]] void fail(const std::string& message);

}  // namespace velto
