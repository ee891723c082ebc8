// Torvan's version, as the build fixes it (CMake's project version): shown in the
// window's release label, by `torvan --version` and in the metrics (torvan_build_info).
#pragma once

namespace torvan {

// "<major>.<minor>.<patch>", e.g. "1.0.0".
const char* TorvanVersion();

}  // namespace torvan
