#include "catalogue/catalogue.h"

#include "catalogue/catalogue_files.h"
#include "catalogue/sql_names.h"
#include "core/text.h"

namespace torvan {

std::string NomeSql(std::string_view nome) {
  std::string out = "[";
  for (char c : nome) {
    out += c;
    if (c == ']') out += ']';
  }
  return out + "]";
}

void Carica_Catalogo(Program& program, Catalogue& c) {
  c.Tab_File.assign(1, FileEntry{});
  c.Tab_Campi.assign(1, CampoEntry{});
  c.Tab_Cartelle_DB.assign(1, std::string());
  c.N_File = 0;
  c.Catalogo_Errato = false;

  std::vector<DataBase_Rec> databases;
  (void)ReadDataBaseRecs(program.paths.database_catalogue, &databases);
  for (const DataBase_Rec& db : databases) c.Tab_Cartelle_DB.push_back(Trim(db.Cartella_DB));

  std::vector<File_Rec> files;
  (void)ReadFileRecs(program.paths.file_catalogue, &files);
  c.N_File = int32_t(files.size());
  int32_t last = 0;
  for (size_t i = 1; i <= files.size(); ++i) {
    const File_Rec& rec = files[i - 1];
    FileEntry f;
    f.Libreria = Trim(rec.Libreria);
    f.File = Trim(rec.File);
    f.As_Pc = Trim(rec.As_Pc) == "S";
    f.Pc_As = Trim(rec.Pc_As) == "S";
    f.Indice_DB = rec.Indice_DB;
    f.DataBase = Trim(rec.DataBase);

    std::vector<Campo_Rec> fields;
    (void)ReadCampoRecs(program.paths.FieldFile(int(i)), &fields);
    for (const Campo_Rec& field : fields) {
      if (field.Escluso != " ") continue;
      CampoEntry e;
      e.Nome = Trim(field.Nome);
      e.Nome_Sql = NomeSql(e.Nome);
      e.Tipo = Trim(field.Tipo);
      e.Posizione = field.Posizione;
      e.Byte = field.Byte;
      e.Lunghezza = field.Lunghezza;
      e.Decimali = field.Decimali;
      c.Tab_Campi.push_back(e);
      if (e.Nome == kCampoIdx) f.Campo_IDX = int32_t(c.Tab_Campi.size() - 1);
    }
    f.Primo_Campo = last + 1;
    f.Ultimo_Campo = int32_t(c.Tab_Campi.size() - 1);
    f.N_Campi = f.Ultimo_Campo - last;
    last = f.Ultimo_Campo;

    if (f.Pc_As && f.Campo_IDX == 0) {
      program.Scrivi_Messaggio("   *** ERRORE ***  Nel file " + f.Libreria + "/" + f.File +
                               " manca il campo " + kCampoIdx);
      c.Catalogo_Errato = true;
    } else if (!f.Pc_As && f.Campo_IDX >= 1) {
      program.Scrivi_Messaggio("   *** ERRORE ***  Nel file " + f.Libreria + "/" + f.File +
                               " \xE8 presente il campo " + kCampoIdx);
      c.Catalogo_Errato = true;
    }
    c.Tab_File.push_back(f);
  }

  for (const NameClash& clash : FindNameClashes(c)) {
    program.Scrivi_Messaggio(NameClashMessage(c, clash));
    c.Tab_File[size_t(clash.file)].Nome_In_Conflitto = true;
    if (clash.other != 0) c.Tab_File[size_t(clash.other)].Nome_In_Conflitto = true;
    c.Catalogo_Errato = true;
  }
}

}  // namespace torvan
