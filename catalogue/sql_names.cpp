#include "catalogue/sql_names.h"

#include <map>

#include "catalogue/catalogue.h"
#include "core/text.h"

namespace torvan {

namespace {

// SQL Server's default collation ignores case; so do SQLite's table names.
std::string Folded(const std::string& name) { return UpperCp1252(name); }

}  // namespace

std::vector<std::string> OwnedObjectNames(const FileEntry& file) {
  std::vector<std::string> names{file.File};
  if (file.Pc_As) {
    const std::string event = file.File + "___";
    names.push_back(event);
    for (const char* suffix : {"_D", "_I", "_U"}) names.push_back(file.File + suffix);
    names.push_back(event + "_I");
  }
  return names;
}

std::vector<NameClash> FindNameClashes(const Catalogue& c) {
  std::vector<NameClash> clashes;
  // Per database: folded name -> the first file that owns it.
  std::map<int32_t, std::map<std::string, int32_t>> owners;
  for (int32_t n = 1; n <= c.N_File && n < int32_t(c.Tab_File.size()); ++n) {
    const FileEntry& f = c.Tab_File[size_t(n)];
    if (f.Indice_DB == 0 || f.File.empty()) continue;
    std::map<std::string, int32_t>& names = owners[f.Indice_DB];
    std::vector<int32_t> reported;
    for (const std::string& name : OwnedObjectNames(f)) {
      const std::string key = Folded(name);
      if (key == Folded(kMasterTableName)) {
        clashes.push_back({n, 0, name});
        continue;
      }
      auto [it, fresh] = names.emplace(key, n);
      if (fresh || it->second == n) continue;
      bool already = false;
      for (int32_t r : reported) already = already || r == it->second;
      if (already) continue;
      reported.push_back(it->second);
      clashes.push_back({it->second, n, name});
    }
  }
  return clashes;
}

std::string NameClashMessage(const Catalogue& c, const NameClash& clash) {
  const FileEntry& f = c.Tab_File[size_t(clash.file)];
  const std::string qualified = f.DataBase + "/" + clash.name;
  if (clash.other == 0) {
    return "   *** ERRORE ***  Il file " + f.Libreria + "/" + f.File + " usa il nome riservato " +
           qualified;
  }
  const FileEntry& o = c.Tab_File[size_t(clash.other)];
  return "   *** ERRORE ***  I file " + f.Libreria + "/" + f.File + " e " + o.Libreria + "/" +
         o.File + " usano lo stesso nome " + qualified;
}

}  // namespace torvan
