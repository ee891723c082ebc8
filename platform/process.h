// Processes of this machine: the status file's reader asks about them, and Torvan's own
// programs set up their heap at start.
#pragma once

#include <cstdint>

namespace torvan::platform {

// The process `pid` exists and is not a zombie (killed, not yet reaped by its parent). A
// process of another user counts (kill answers EPERM). False for pid 0, negative or
// beyond a pid's range.
bool ProcessAlive(int64_t pid);

// Keeps memory freed at the top of the heap for the next allocation, up to a few MiB,
// instead of handing it back to the system at once. SQLite's statement journals, made and
// freed for every change applied, otherwise grow and shrink the heap each time, and each
// shrink stops every core to flush its address cache. Called first by the programs that
// replicate (torvan, torvan-gui).
void KeepFreedMemoryForReuse();

}  // namespace torvan::platform
