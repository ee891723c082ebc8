// The lines `torvan status` prints about a Torvan's status file (control/status_file.h),
// after the first line that says whether it runs: Windows-1252, the figures formatted as
// the window shows them.
#pragma once

#include <string>
#include <vector>

#include "control/status_file.h"

namespace torvan {

std::vector<std::string> StatusLines(const StatusSnapshot& s);

// A duration as `torvan status` shows it: "42 s", "3 min 5 s", "2 h 7 min" (whole
// seconds, rounded down).
std::string AgeText(double seconds);

}  // namespace torvan
