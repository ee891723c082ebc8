// torvan-host's log: one line a message on standard error, behind "torvan-host: ".
#pragma once

#include <cstdio>
#include <string>

namespace torvan::hostsim {

inline void Log(const std::string& line) {
  std::fprintf(stderr, "torvan-host: %s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace torvan::hostsim
