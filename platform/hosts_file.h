// Where this machine keeps its hosts file: /etc/hosts, or the path in the environment
// variable TORVAN_HOSTS_FILE when it is set and not empty (tests use their own file).
#pragma once

#include <string>

namespace torvan::platform {

std::string Hosts_FilePath();

}  // namespace torvan::platform
