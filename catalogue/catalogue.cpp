#include "catalogue/catalogue.h"

#include <set>

#include "catalogue/catalogue_files.h"
#include "catalogue/sql_names.h"
#include "core/text.h"
#include "hostlink/field.h"
#include "hostlink/host_format.h"

namespace torvan {

namespace {

std::string Num(int64_t n) { return std::to_string(n); }

}  // namespace

CampoEntry CatalogueField(const Campo_Rec& rec) {
  CampoEntry e;
  e.Nome = Trim(rec.Nome);
  e.Nome_Sql = NomeSql(e.Nome);
  e.Tipo = Trim(rec.Tipo);
  e.Posizione = rec.Posizione;
  e.Byte = rec.Byte;
  e.Lunghezza = rec.Lunghezza;
  e.Decimali = rec.Decimali;
  return e;
}

std::string FieldLayoutError(const CampoEntry& f) {
  constexpr int32_t kRecord = hostlink::change_record::kMaxRecordLength;
  const std::string upper = UpperCp1252(f.Nome);
  for (const char* reserved : kReservedColumns) {
    if (upper == reserved) return "nome riservato a Torvan";
  }
  const std::optional<hostlink::FieldType> type = hostlink::ParseFieldType(f.Tipo);
  if (!type) {
    return "tipo \"" + f.Tipo + "\" sconosciuto (A, S, P o B)";
  }
  if (f.Posizione < 1 || f.Byte < 1 || int64_t(f.Posizione) + f.Byte - 1 > kRecord) {
    return "posizione " + Num(f.Posizione) + " e " + Num(f.Byte) + " byte fuori dal record di " +
           Num(kRecord) + " byte";
  }
  // The decoder puts a packed field's point among its 2 x bytes - 1 digits; more decimals
  // than that cannot be read, and a binary field's decimals reach no column beyond
  // kMaxBinaryDecimals. Every other layout of these types decodes as it stands: digits are
  // not used by the decoding, a zoned field with more decimals than bytes reads without a
  // point, and a binary field of any length reads while its value fits 64 bits.
  if (*type == hostlink::FieldType::kPacked && f.Decimali > 2 * int64_t(f.Byte) - 1) {
    return Num(f.Decimali) + " decimali su " + Num(2 * int64_t(f.Byte) - 1) + " cifre";
  }
  if (*type == hostlink::FieldType::kBinary && f.Decimali > hostlink::kMaxBinaryDecimals) {
    return Num(f.Decimali) + " decimali (al massimo " + Num(hostlink::kMaxBinaryDecimals) + ")";
  }
  return "";
}

std::string NomeSql(std::string_view nome) {
  std::string out = "[";
  for (char c : nome) {
    out += c;
    if (c == ']') out += ']';
  }
  return out + "]";
}

void Carica_Catalogo(Program& program, Catalogue& c) {
  // A switch interrupted by a kill is finished here too; until then the readers see the
  // new catalogue through the ready folder anyway.
  (void)FinishCatalogueSwitch(program.paths);
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
    std::set<std::string> names;
    for (const Campo_Rec& field : fields) {
      if (field.Escluso != " ") continue;
      CampoEntry e = CatalogueField(field);
      std::string why = e.Nome.empty()                              ? "nome vuoto"
                        : !names.insert(UpperCp1252(e.Nome)).second ? "nome ripetuto"
                                                                    : FieldLayoutError(e);
      if (!why.empty()) {
        program.Scrivi_Messaggio("   *** ERRORE ***  Nel file " + f.Libreria + "/" + f.File +
                                 " il campo " + e.Nome + " non \xE8 valido: " + why);
        f.Tracciato_Errato = true;
        c.Catalogo_Errato = true;
      }
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
