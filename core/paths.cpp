#include "core/paths.h"

#include <unistd.h>

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

#include "core/text.h"

namespace torvan {

Paths Paths::InFolder(const std::string& folder) {
  std::string base = folder;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  Paths p;
  p.base = base;
  std::string prefix = base == "/" ? "/" : base + "/";
  p.settings = prefix + "TnC.INI";
  p.database_catalogue = prefix + "TnC_DB.DAT";
  p.file_catalogue = prefix + "TnC_FILE.DAT";
  p.field_pattern = prefix + "TnC_F_*.DAT";
  p.message_log = prefix + "TnC.Log";
  p.pc_as_log = prefix + "TnC_PC_AS.Log";
  p.char_table = prefix + "TnC_TBL1.Tbl";
  p.pending = prefix + "TnC_PENDENTI.DAT";
  p.journal = prefix + "TnC_GIORNALE.DAT";
  p.refused_log = prefix + "TnC_RIFIUTATI.Log";
  p.set_aside_log = prefix + "TnC_ACCANTONATI.Log";
  p.conflicts_log = prefix + "TnC_CONFLITTI.Log";
  p.status = prefix + "TnC_STATO.DAT";
  return p;
}

Paths Paths::InWorkingDirectory() {
  char buf[PATH_MAX];
  if (getcwd(buf, sizeof buf) == nullptr) return InFolder(".");
  return InFolder(buf);
}

std::string Paths::FieldFile(int n) const {
  std::string path = field_pattern;
  size_t star = path.rfind('*');
  return path.replace(star, 1, ZeroPad(n, 5));
}

namespace {

// Set by the build: where the data files are installed, as a full path and relative to
// the folder of the programs.
#ifndef TORVAN_DATA_DIR
#define TORVAN_DATA_DIR "/usr/local/share/torvan"
#endif
#ifndef TORVAN_DATA_FROM_BIN
#define TORVAN_DATA_FROM_BIN "../share/torvan"
#endif

bool IsFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The path without "." and ".." (it is shown to the operator), or empty when it is not a
// regular file.
std::string RegularFile(const std::string& path) {
  char real[PATH_MAX];
  if (!IsFile(path) || ::realpath(path.c_str(), real) == nullptr) return "";
  return real;
}

}  // namespace

std::string InstalledDataFileFor(std::string_view program_path, std::string_view name) {
  const size_t slash = program_path.rfind('/');
  if (slash != std::string_view::npos) {
    std::string beside = RegularFile(std::string(program_path.substr(0, slash + 1)) +
                                     TORVAN_DATA_FROM_BIN + "/" + std::string(name));
    if (!beside.empty()) return beside;
  }
  return RegularFile(std::string(TORVAN_DATA_DIR) + "/" + std::string(name));
}

std::string InstalledDataFile(std::string_view name) {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return InstalledDataFileFor(n > 0 ? std::string_view(buf, size_t(n)) : std::string_view(), name);
}

std::string CharTableToRead(const Paths& paths, bool* installed) {
  *installed = false;
  // Whatever stands at the base folder's name is the operator's table: a fault in it is
  // reported, never passed over for the installed one.
  struct stat st {};
  if (::stat(paths.char_table.c_str(), &st) == 0) return paths.char_table;
  std::string shipped = InstalledDataFile("TnC_TBL1.Tbl");
  if (shipped.empty()) return paths.char_table;
  *installed = true;
  return shipped;
}

}  // namespace torvan
