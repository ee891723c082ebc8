#include "catalogue/catalogue_load.h"

#include <dirent.h>

#include <cstring>

#include "catalogue/catalogue_files.h"
#include "config/scramble.h"
#include "core/text.h"
#include "hostlink/exchange.h"
#include "platform/file.h"

namespace torvan {

namespace {

using hostlink::SocketLayer;

constexpr char kRoutine[] = "Carica_File";

// Decodes the fields of one served entry; the first fault makes the whole entry a fault.
// Fields are read within the entry's own data part: a field beyond it (a short entry) is
// a fault, never the bytes an earlier reply left in the buffer.
class EntryReader {
 public:
  explicit EntryReader(const SocketLayer& socket) : socket_(socket) {}

  std::string Text(int32_t pos, int32_t len) {
    hostlink::FieldText t =
        hostlink::Field_Decode(socket_.tables(), socket_.MessageData(), 'A', pos, len, 0, 0);
    if (!t.ok()) status_ = t.status;
    return t.text;
  }
  int32_t Packed(int32_t pos) {
    hostlink::FieldText t =
        hostlink::Field_Decode(socket_.tables(), socket_.MessageData(), 'P', pos, 3, 5, 0);
    if (!t.ok()) status_ = t.status;
    return NumericValue(t.text);
  }
  const Status& status() const { return status_; }

 private:
  const SocketLayer& socket_;
  Status status_;
};

// Runs one list: requests with flag "S" then "N" until the host ends it or a read fails.
// `store` takes each entry to keep; a false from it is a fault that ends the load.
template <class Store>
bool RunList(Program& program, SocketLayer& socket, char code, std::string_view data_after_flag,
             Store store) {
  std::string flag = "S";
  for (;;) {
    hostlink::ExchangeReply reply =
        hostlink::Exchange(socket, program, kRoutine, code, flag + std::string(data_after_flag),
                           program.stats.Ritardo_Link);
    flag = "N";
    if (!reply.served()) return true;  // end of the list, or its read error was written
    EntryReader entry(socket);
    std::string mark = entry.Text(1, 1);
    if (!entry.status().ok()) return false;
    if (mark != " ") continue;
    if (!store(entry)) return false;
  }
}

void DeleteCatalogueFiles(const Paths& paths) {
  (void)platform::RemoveFile(paths.database_catalogue);
  (void)platform::RemoveFile(paths.file_catalogue);
  DIR* dir = opendir(paths.base.c_str());
  if (dir == nullptr) return;
  while (dirent* e = readdir(dir)) {
    std::string_view name = e->d_name;
    if (name.size() > 10 && name.substr(0, 6) == "TnC_F_" &&
        name.substr(name.size() - 4) == ".DAT") {
      (void)platform::RemoveFile(paths.base + "/" + std::string(name));
    }
  }
  closedir(dir);
}

bool Fail(Program& program) {
  program.Scrivi_Messaggio("Errore generico in Carica_File");
  return false;
}

}  // namespace

bool Carica_File(Program& program, SocketLayer& socket, Catalogue& catalogue) {
  const Paths& paths = program.paths;
  DeleteCatalogueFiles(paths);

  std::vector<DataBase_Rec> databases;
  program.Scrivi_Messaggio("   Carica elenco database");
  bool ok = RunList(program, socket, '3', "", [&](EntryReader& e) {
    DataBase_Rec r;
    r.Nome_DB = e.Text(2, 20);
    r.Server_DB = e.Text(72, 20);
    r.Indirizzo_DB = e.Text(92, 16);
    r.Utente_DB = e.Text(108, 20);
    r.Password_DB = Codifica_Parametri(e.Text(128, 20)).text;
    r.Cartella_DB = e.Text(148, 50);
    if (!e.status().ok()) return false;
    databases.push_back(r);
    return true;
  });
  if (!ok || !WriteRecords(paths.database_catalogue, databases).ok() || databases.empty()) {
    return Fail(program);
  }
  std::vector<bool> db_ritorno(databases.size() + 1, false);

  std::vector<File_Rec> files;
  program.Scrivi_Messaggio("   Carica elenco files");
  ok = RunList(program, socket, '1', "", [&](EntryReader& e) {
    File_Rec r;
    r.Libreria = e.Text(2, 10);
    r.File = e.Text(12, 10);
    r.Testo = e.Text(22, 50);
    r.Libreria_Trigger = e.Text(72, 10);
    r.Trigger = e.Text(82, 10);
    r.As_Pc = e.Text(92, 1);
    r.Pc_As = e.Text(93, 1);
    r.Acq = e.Text(94, 1);
    r.DataBase = e.Text(95, 20);
    r.Libreria_Filtro = e.Text(115, 10);
    r.Filtro = e.Text(125, 10);
    if (!e.status().ok()) return false;
    r.Indice_DB = 0;
    for (size_t k = 0; k < databases.size(); ++k) {
      if (databases[k].Nome_DB == r.DataBase) {
        r.Indice_DB = int32_t(k + 1);
        break;
      }
    }
    if (r.Pc_As == "S") {
      if (r.Indice_DB == 0) return false;  // a file sent back to an unknown database
      db_ritorno[size_t(r.Indice_DB)] = true;
    }
    files.push_back(r);
    return true;
  });
  if (!ok || !WriteRecords(paths.file_catalogue, files).ok()) return Fail(program);

  for (size_t k = 1; k <= files.size(); ++k) {
    const File_Rec& f = files[k - 1];
    std::vector<Campo_Rec> fields;
    program.Scrivi_Messaggio("   Carica campi di " + Trim(f.Libreria) + "/" + Trim(f.File));
    ok = RunList(program, socket, '2', PadRight(f.Libreria, 10) + PadRight(f.File, 10),
                 [&](EntryReader& e) {
                   Campo_Rec r;
                   r.Nome = e.Text(22, 10);
                   r.Testo = e.Text(32, 50);
                   r.Tipo = e.Text(82, 1);
                   r.Lunghezza = e.Packed(83);
                   r.Decimali = e.Packed(86);
                   r.Posizione = e.Packed(89);
                   r.Byte = e.Packed(92);
                   r.Escluso = e.Text(95, 1);
                   if (!e.status().ok()) return false;
                   fields.push_back(r);
                   return true;
                 });
    if (!ok || !WriteRecords(paths.FieldFile(int(k)), fields).ok()) return Fail(program);
  }

  catalogue.N_DB = int32_t(databases.size());
  catalogue.DB_Ritorno = std::move(db_ritorno);
  return true;
}

}  // namespace torvan
