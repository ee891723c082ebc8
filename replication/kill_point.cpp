#include "replication/kill_point.h"

#include <signal.h>

#include <cstdlib>
#include <string>

namespace torvan {

namespace {

struct Target {
  std::string point;
  long count = 1;
};

Target ReadTarget() {
  Target t;
  const char* v = std::getenv("TORVAN_TEST_KILL_AT");
  if (v == nullptr) return t;
  t.point = v;
  const size_t at = t.point.find('@');
  if (at != std::string::npos) {
    t.count = std::strtol(t.point.c_str() + at + 1, nullptr, 10);
    t.point.resize(at);
  }
  return t;
}

}  // namespace

void KillPoint(std::string_view point) {
  static Target target = ReadTarget();
  if (target.point.empty() || point != target.point) return;
  if (--target.count <= 0) ::raise(SIGKILL);
}

}  // namespace torvan
