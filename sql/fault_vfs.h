// For tests: a SQLite VFS over the system's default one that fails, on command, the writes
// and syncs of database files with an I/O error or a full disk, as SQLite's own
// src/test_vfs.c does. The embedded engine opens its files through it when its
// ConnectionParams name it (sqlite_vfs); made the default VFS, it also sits under SQLite's
// ODBC driver, which uses the same library.
//
// A failed sync of the write-ahead log is a failed commit: the transaction is not kept.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/status.h"

namespace torvan::sql {

struct VfsFault {
  enum class Op { kWrite, kSync };
  Op op = Op::kWrite;
  int nth = 1;        // the nth write (sync) counted, from 1
  int times = 1;      // that one and the times - 1 after it
  bool full = false;  // the disk is full (SQLITE_FULL) rather than failing (SQLITE_IOERR)
  // Only files whose name ends so ("-wal", "-journal", ".sqlite"); empty for every file.
  std::string file_suffix;
};

class VfsFaults {
 public:
  void Add(VfsFault fault) { faults_.push_back(std::move(fault)); }
  // Every write and sync fails with a chance of 1 in `one_in`, as an I/O error or, one time
  // in two, a full disk.
  void SetRandom(uint64_t seed, int one_in);
  void Clear() { *this = VfsFaults(); }
  // Appends a line per fault injected to this file (the soak counts them).
  void set_log(std::string path) { log_ = std::move(path); }

  // Counts one operation of `op` on file `name`; the SQLite result code it fails with, or 0.
  int Next(VfsFault::Op op, const char* name);

  int writes() const { return writes_; }
  int syncs() const { return syncs_; }
  int injected() const { return injected_; }

 private:
  std::vector<VfsFault> faults_;
  int writes_ = 0, syncs_ = 0, injected_ = 0;
  int one_in_ = 0;
  std::mt19937_64 rng_;
  std::string log_;
};

// Registers the VFS `name` over SQLite's default VFS, failing what `*faults` says (again
// for a name already registered: the new `faults` replace the old). `faults` must outlive
// every database opened through the VFS. With `make_default` it becomes SQLite's default
// VFS for the whole process.
Status RegisterFaultVfs(const std::string& name, VfsFaults* faults, bool make_default = false);

// Reads the "vfs..." items of a TORVAN_TEST_SQL_FAULTS text (sql/fault_connection.h):
//   vfs-random=<one_in>/<seed>          writes and syncs fail at random
//   vfs-write@<n>[x<times>]=io|full     vfs-sync@<n>[x<times>]=io|full
// and "log=<path>" (shared with the connection's faults). True when there was a "vfs" one.
bool ParseVfsFaults(std::string_view text, VfsFaults* faults, Status* status);

}  // namespace torvan::sql
