#include "platform/process.h"

#include <malloc.h>
#include <signal.h>

#include <cerrno>
#include <climits>
#include <string>

#include "platform/file.h"

namespace torvan::platform {

bool ProcessAlive(int64_t pid) {
  if (pid <= 0 || pid > INT32_MAX) return false;
  if (::kill(pid_t(pid), 0) != 0 && errno != EPERM) return false;
  // A process killed and not yet reaped still answers: its state is "Z".
  std::string stat;
  if (!ReadFile("/proc/" + std::to_string(pid) + "/stat", &stat).ok()) return true;
  const size_t end = stat.rfind(')');
  return end == std::string::npos || end + 2 >= stat.size() || stat[end + 2] != 'Z';
}

void KeepFreedMemoryForReuse() {
  // Setting any of these fixes the others' defaults: the three are set together.
  mallopt(M_MMAP_THRESHOLD, 4 << 20);  // below 4 MiB, allocations come from the heap
  mallopt(M_TRIM_THRESHOLD, 16 << 20);
  mallopt(M_TOP_PAD, 1 << 20);
}

}  // namespace torvan::platform
