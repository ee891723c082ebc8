// Processes of this machine, as the status file's reader asks about them.
#pragma once

#include <cstdint>

namespace torvan::platform {

// The process `pid` exists and is not a zombie (killed, not yet reaped by its parent). A
// process of another user counts (kill answers EPERM). False for pid 0, negative or
// beyond a pid's range.
bool ProcessAlive(int64_t pid);

}  // namespace torvan::platform
