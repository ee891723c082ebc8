#include "core/paths.h"

#include <unistd.h>

#include <climits>

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
  p.refused_log = prefix + "TnC_RIFIUTATI.Log";
  p.set_aside_log = prefix + "TnC_ACCANTONATI.Log";
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

}  // namespace torvan
