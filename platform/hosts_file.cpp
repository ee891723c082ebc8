#include "platform/hosts_file.h"

#include <cstdlib>

namespace torvan::platform {

std::string Hosts_FilePath() {
  const char* env = std::getenv("TORVAN_HOSTS_FILE");
  if (env != nullptr && *env != '\0') return env;
  return "/etc/hosts";
}

}  // namespace torvan::platform
