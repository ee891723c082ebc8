#include "core/version.h"

namespace torvan {

const char* TorvanVersion() { return TORVAN_VERSION; }

}  // namespace torvan
