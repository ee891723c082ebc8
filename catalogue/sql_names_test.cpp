// Files whose SQL objects would share a name are found, each pair once.
#include "catalogue/sql_names.h"

#include <gtest/gtest.h>

#include "catalogue/catalogue.h"

namespace torvan {
namespace {

// Files as "LIB/FILE", "*" when sent back, "@2" in database 2 (ARCHIVIO), "@0" in none.
Catalogue Files(const std::vector<std::string>& files) {
  Catalogue c;
  for (std::string f : files) {
    int32_t db = 1;
    if (const size_t at = f.find('@'); at != std::string::npos) {
      db = f[at + 1] - '0';
      f.erase(at);
    }
    const bool pc_as = f.back() == '*';
    if (pc_as) f.pop_back();
    const size_t slash = f.find('/');
    c.Tab_File.push_back({f.substr(0, slash), f.substr(slash + 1), 0, 0, 0, false, pc_as, db,
                          db == 1 ? "GESTIONE" : "ARCHIVIO"});
  }
  c.N_File = int32_t(c.Tab_File.size() - 1);
  return c;
}

// Each clash as "file-other name".
std::string Clashes(const Catalogue& c) {
  std::string out;
  for (const NameClash& clash : FindNameClashes(c)) {
    out += std::to_string(clash.file) + "-" + std::to_string(clash.other) + " " + clash.name + "; ";
  }
  return out;
}

// Each pair once, whatever the case of the names; the first clash's message names both files
// or the reserved name.
TEST(NameClash, EachPairOnceWhateverTheCaseAndTheMessagesNameBoth) {
  const struct {
    std::vector<std::string> files;
    const char* clashes;
    const char* message;  // of the first clash, when given
  } rows[] = {
      // The same name in another database, and files without a database, clash with nothing.
      {{"DATI/CLIENTI*", "DATI/ORDINI", "STORICO/CLIENTI@2", "DATI/X@0", "ALTRO/X@0"}, "", ""},
      // A file sent back beside host files named like its event table and a trigger.
      {{"DATI/A*", "DATI/A___", "DATI/A_U"}, "1-2 A___; 1-3 A_U; ", ""},
      // Six objects of file 2 clash with file 1's: one report.
      {{"A/X*", "B/X*", "C/X"}, "1-2 X; 1-3 X; ", ""},
      // SQL Server's names ignore case.
      {{"DATI/CLIENTI*", "STORICO/clienti"},
       "1-2 clienti; ",
       "   *** ERRORE ***  I file DATI/CLIENTI e STORICO/clienti usano lo stesso nome "
       "GESTIONE/clienti"},
      {{"DATI/_T_MASTER___"},
       "1-0 _T_MASTER___; ",
       "   *** ERRORE ***  Il file DATI/_T_MASTER___ usa il nome riservato GESTIONE/_T_MASTER___"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.clashes);
    const Catalogue c = Files(r.files);
    EXPECT_EQ(r.clashes, Clashes(c));
    const std::vector<NameClash> clashes = FindNameClashes(c);
    EXPECT_EQ(r.message, *r.message ? NameClashMessage(c, clashes.at(0)) : "");
  }
}

}  // namespace
}  // namespace torvan
