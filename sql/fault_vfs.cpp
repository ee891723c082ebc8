#include "sql/fault_vfs.h"

#include <sqlite3.h>

#include <charconv>
#include <cstring>
#include <map>
#include <memory>

#include "platform/file.h"

namespace torvan::sql {

namespace {

struct Shim {
  sqlite3_vfs vfs{};
  std::string name;
  sqlite3_vfs* real = nullptr;
  VfsFaults* faults = nullptr;
};

// An open file: the shim's header, the real VFS's file right after it.
struct ShimFile {
  sqlite3_file base;
  Shim* shim;
  const char* name;  // SQLite keeps the name alive while the file is open
  sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

ShimFile* Of(sqlite3_file* f) { return reinterpret_cast<ShimFile*>(f); }
const sqlite3_io_methods* Real(sqlite3_file* f) { return Of(f)->real()->pMethods; }

int Close(sqlite3_file* f) { return Real(f)->xClose(Of(f)->real()); }
int Read(sqlite3_file* f, void* p, int n, sqlite3_int64 at) {
  return Real(f)->xRead(Of(f)->real(), p, n, at);
}
int Write(sqlite3_file* f, const void* p, int n, sqlite3_int64 at) {
  ShimFile* s = Of(f);
  if (int rc = s->shim->faults->Next(VfsFault::Op::kWrite, s->name)) {
    return rc == SQLITE_FULL ? SQLITE_FULL : SQLITE_IOERR_WRITE;
  }
  return Real(f)->xWrite(s->real(), p, n, at);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) {
  return Real(f)->xTruncate(Of(f)->real(), size);
}
int Sync(sqlite3_file* f, int flags) {
  ShimFile* s = Of(f);
  if (int rc = s->shim->faults->Next(VfsFault::Op::kSync, s->name)) {
    return rc == SQLITE_FULL ? SQLITE_FULL : SQLITE_IOERR_FSYNC;
  }
  return Real(f)->xSync(s->real(), flags);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) {
  return Real(f)->xFileSize(Of(f)->real(), size);
}
int Lock(sqlite3_file* f, int level) { return Real(f)->xLock(Of(f)->real(), level); }
int Unlock(sqlite3_file* f, int level) { return Real(f)->xUnlock(Of(f)->real(), level); }
int CheckReservedLock(sqlite3_file* f, int* out) {
  return Real(f)->xCheckReservedLock(Of(f)->real(), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) {
  return Real(f)->xFileControl(Of(f)->real(), op, arg);
}
int SectorSize(sqlite3_file* f) { return Real(f)->xSectorSize(Of(f)->real()); }
int DeviceCharacteristics(sqlite3_file* f) {
  return Real(f)->xDeviceCharacteristics(Of(f)->real());
}
int ShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** p) {
  return Real(f)->xShmMap(Of(f)->real(), region, size, extend, p);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return Real(f)->xShmLock(Of(f)->real(), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) { Real(f)->xShmBarrier(Of(f)->real()); }
int ShmUnmap(sqlite3_file* f, int remove) { return Real(f)->xShmUnmap(Of(f)->real(), remove); }
int Fetch(sqlite3_file* f, sqlite3_int64 at, int n, void** p) {
  return Real(f)->xFetch(Of(f)->real(), at, n, p);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 at, void* p) {
  return Real(f)->xUnfetch(Of(f)->real(), at, p);
}

const sqlite3_io_methods kMethods = {3,
                                     Close,
                                     Read,
                                     Write,
                                     Truncate,
                                     Sync,
                                     FileSize,
                                     Lock,
                                     Unlock,
                                     CheckReservedLock,
                                     FileControl,
                                     SectorSize,
                                     DeviceCharacteristics,
                                     ShmMap,
                                     ShmLock,
                                     ShmBarrier,
                                     ShmUnmap,
                                     Fetch,
                                     Unfetch};

int Open(sqlite3_vfs* vfs, const char* name, sqlite3_file* file, int flags, int* out_flags) {
  Shim* shim = static_cast<Shim*>(vfs->pAppData);
  ShimFile* s = Of(file);
  s->base.pMethods = nullptr;
  s->shim = shim;
  s->name = name;
  int rc = shim->real->xOpen(shim->real, name, s->real(), flags, out_flags);
  // The real file's methods are of version 3 (the unix VFS): the shim forwards them all.
  if (rc == SQLITE_OK && s->real()->pMethods != nullptr) s->base.pMethods = &kMethods;
  return rc;
}

int Delete(sqlite3_vfs* v, const char* n, int sync) {
  sqlite3_vfs* r = static_cast<Shim*>(v->pAppData)->real;
  return r->xDelete(r, n, sync);
}
int Access(sqlite3_vfs* v, const char* n, int flags, int* out) {
  sqlite3_vfs* r = static_cast<Shim*>(v->pAppData)->real;
  return r->xAccess(r, n, flags, out);
}
int FullPathname(sqlite3_vfs* v, const char* n, int size, char* out) {
  sqlite3_vfs* r = static_cast<Shim*>(v->pAppData)->real;
  return r->xFullPathname(r, n, size, out);
}
void* DlOpen(sqlite3_vfs* v, const char* n) {
  sqlite3_vfs* r = static_cast<Shim*>(v->pAppData)->real;
  return r->xDlOpen(r, n);
}
void DlError(sqlite3_vfs* v, int size, char* out) {
  sqlite3_vfs* r = static_cast<Shim*>(v->pAppData)->real;
  r->xDlError(r, size, out);
}
void (*DlSym(sqlite3_vfs* v, void* h, const char* n))(void) {
  sqlite3_vfs* r = static_cast<Shim*>(v->pAppData)->real;
  return r->xDlSym(r, h, n);
}
void DlClose(sqlite3_vfs* v, void* h) {
  sqlite3_vfs* r = static_cast<Shim*>(v->pAppData)->real;
  r->xDlClose(r, h);
}
int Randomness(sqlite3_vfs* v, int n, char* out) {
  sqlite3_vfs* r = static_cast<Shim*>(v->pAppData)->real;
  return r->xRandomness(r, n, out);
}
int Sleep(sqlite3_vfs* v, int us) {
  sqlite3_vfs* r = static_cast<Shim*>(v->pAppData)->real;
  return r->xSleep(r, us);
}
int CurrentTime(sqlite3_vfs* v, double* out) {
  sqlite3_vfs* r = static_cast<Shim*>(v->pAppData)->real;
  return r->xCurrentTime(r, out);
}
int GetLastError(sqlite3_vfs* v, int n, char* out) {
  sqlite3_vfs* r = static_cast<Shim*>(v->pAppData)->real;
  return r->xGetLastError ? r->xGetLastError(r, n, out) : 0;
}
int CurrentTimeInt64(sqlite3_vfs* v, sqlite3_int64* out) {
  sqlite3_vfs* r = static_cast<Shim*>(v->pAppData)->real;
  return r->xCurrentTimeInt64(r, out);
}

bool EndsWith(const char* name, const std::string& suffix) {
  if (suffix.empty()) return true;
  if (name == nullptr) return false;
  const size_t n = std::strlen(name);
  return n >= suffix.size() && suffix.compare(0, suffix.size(), name + n - suffix.size()) == 0;
}

bool ParseInt(std::string_view text, int64_t* out) {
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && p == text.data() + text.size() && !text.empty();
}

}  // namespace

void VfsFaults::SetRandom(uint64_t seed, int one_in) {
  rng_.seed(seed);
  one_in_ = one_in;
}

int VfsFaults::Next(VfsFault::Op op, const char* name) {
  const int n = op == VfsFault::Op::kWrite ? ++writes_ : ++syncs_;
  int rc = 0;
  for (const VfsFault& f : faults_) {
    if (f.op == op && n >= f.nth && n < f.nth + f.times && EndsWith(name, f.file_suffix)) {
      rc = f.full ? SQLITE_FULL : SQLITE_IOERR;
      break;
    }
  }
  if (rc == 0 && one_in_ > 0 && std::uniform_int_distribution<int>(1, one_in_)(rng_) == 1) {
    rc = std::uniform_int_distribution<int>(0, 1)(rng_) == 0 ? SQLITE_FULL : SQLITE_IOERR;
  }
  if (rc != 0) {
    ++injected_;
    if (!log_.empty()) {
      (void)platform::AppendToFile(log_, std::string("vfs ") +
                                             (op == VfsFault::Op::kWrite ? "write" : "sync") +
                                             (rc == SQLITE_FULL ? " full\n" : " io\n"));
    }
  }
  return rc;
}

Status RegisterFaultVfs(const std::string& name, VfsFaults* faults, bool make_default) {
  // Registered VFSs live as long as the process: a database may still be open on one.
  static std::map<std::string, std::unique_ptr<Shim>>* shims =
      new std::map<std::string, std::unique_ptr<Shim>>();
  if (sqlite3_initialize() != SQLITE_OK) return Status::IoError("sqlite3_initialize failed");
  auto found = shims->find(name);
  if (found != shims->end()) {
    found->second->faults = faults;
    if (make_default) sqlite3_vfs_register(&found->second->vfs, 1);
    return Status::Ok();
  }
  sqlite3_vfs* real = sqlite3_vfs_find(nullptr);
  if (real == nullptr) return Status::IoError("SQLite has no default VFS");
  auto shim = std::make_unique<Shim>();
  shim->name = name;
  shim->real = real;
  shim->faults = faults;
  sqlite3_vfs& v = shim->vfs;
  v.iVersion = 2;
  v.szOsFile = int(sizeof(ShimFile)) + real->szOsFile;
  v.mxPathname = real->mxPathname;
  v.zName = shim->name.c_str();
  v.pAppData = shim.get();
  v.xOpen = Open;
  v.xDelete = Delete;
  v.xAccess = Access;
  v.xFullPathname = FullPathname;
  v.xDlOpen = DlOpen;
  v.xDlError = DlError;
  v.xDlSym = DlSym;
  v.xDlClose = DlClose;
  v.xRandomness = Randomness;
  v.xSleep = Sleep;
  v.xCurrentTime = CurrentTime;
  v.xGetLastError = GetLastError;
  v.xCurrentTimeInt64 = CurrentTimeInt64;
  if (sqlite3_vfs_register(&v, make_default ? 1 : 0) != SQLITE_OK) {
    return Status::IoError("cannot register the SQLite VFS " + name);
  }
  (*shims)[name] = std::move(shim);
  return Status::Ok();
}

bool ParseVfsFaults(std::string_view text, VfsFaults* faults, Status* status) {
  bool found = false;
  *status = Status::Ok();
  while (!text.empty()) {
    const size_t semi = text.find(';');
    const std::string_view item = text.substr(0, semi);
    text = semi == std::string_view::npos ? std::string_view() : text.substr(semi + 1);
    if (item.rfind("log=", 0) == 0) faults->set_log(std::string(item.substr(4)));
    if (item.rfind("vfs", 0) != 0) continue;
    found = true;
    const size_t eq = item.find('=');
    const std::string_view key = item.substr(0, eq);
    const std::string_view value = eq == std::string_view::npos ? "" : item.substr(eq + 1);
    if (key == "vfs-random") {
      const size_t slash = value.find('/');
      int64_t one_in = 0, seed = 0;
      if (slash == std::string_view::npos || !ParseInt(value.substr(0, slash), &one_in) ||
          !ParseInt(value.substr(slash + 1), &seed) || one_in < 1) {
        *status = Status::InvalidArgument("vfs-random=<one_in>/<seed>, not " + std::string(item));
        return found;
      }
      faults->SetRandom(uint64_t(seed), int(one_in));
      continue;
    }
    VfsFault f;
    const size_t at = key.find('@'), x = key.find('x', at);
    int64_t nth = 0, times = 1;
    const std::string_view op = key.substr(0, at);
    f.op = op == "vfs-sync" ? VfsFault::Op::kSync : VfsFault::Op::kWrite;
    f.full = value == "full";
    if (at == std::string_view::npos || (op != "vfs-sync" && op != "vfs-write") ||
        !ParseInt(key.substr(at + 1, x == std::string_view::npos ? x : x - at - 1), &nth) ||
        (x != std::string_view::npos && !ParseInt(key.substr(x + 1), &times)) ||
        (value != "io" && value != "full") || nth < 1 || times < 1) {
      *status = Status::InvalidArgument("vfs-write|vfs-sync@<n>[x<times>]=io|full, not " +
                                        std::string(item));
      return found;
    }
    f.nth = int(nth);
    f.times = int(times);
    faults->Add(f);
  }
  return found;
}

}  // namespace torvan::sql
