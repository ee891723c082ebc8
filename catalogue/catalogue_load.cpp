#include "catalogue/catalogue_load.h"

#include <string>
#include <vector>

#include "catalogue/catalogue_files.h"
#include "config/scramble.h"
#include "core/text.h"
#include "hostlink/exchange.h"

namespace torvan {

namespace {

using hostlink::FieldPos;
using hostlink::SocketLayer;
namespace db_entry = hostlink::database_entry;
namespace file_entry = hostlink::file_entry;
namespace field_entry = hostlink::field_entry;
namespace field_request = hostlink::field_request;

constexpr char kRoutine[] = "Carica_File";

// The load's own message lines.
std::string ReadErrorMessage(char code) {
  return std::string("[") + kRoutine + "] Errore Sock_Read {" + code + "}(2)";
}
std::string TooLongMessage(const std::string& list, int32_t bound) {
  return "   *** ERRORE ***  " + list + " supera " + std::to_string(bound) + " voci";
}
std::string WriteErrorMessage(const Status& s) {
  return "ERRORE nella scrittura del catalogo: " + s.message();
}

std::string LibraryFile(std::string_view library, std::string_view file) {
  return Trim(library) + "/" + Trim(file);
}

// Decodes the fields of one served entry; the first fault makes the whole entry a fault.
// Fields are read within the entry's own data part: a field beyond it (a short entry) is
// a fault, never the bytes an earlier reply left in the buffer.
class EntryReader {
 public:
  explicit EntryReader(const SocketLayer& socket) : socket_(socket) {}

  std::string Text(FieldPos f) {
    hostlink::FieldText t =
        hostlink::Field_Decode(socket_.tables(), socket_.MessageData(), 'A', f.pos, f.len, 0, 0);
    if (!t.ok()) status_ = t.status;
    return t.text;
  }
  int32_t Packed(FieldPos f) {
    hostlink::FieldText t = hostlink::Field_Decode(socket_.tables(), socket_.MessageData(), 'P',
                                                   f.pos, f.len, field_entry::kPackedDigits, 0);
    if (!t.ok()) status_ = t.status;
    return NumericValue(t.text);
  }
  const Status& status() const { return status_; }

 private:
  const SocketLayer& socket_;
  Status status_;
};

// Runs one list: requests with flag "S" then "N" until the host ends it with an outcome
// other than "0". `store` takes each entry to keep and returns false to end the load (an
// entry it could not decode, or a refusal it has reported). False when the load must end:
// a reply that could not be read (the exchange wrote its message), an entry cut short, a
// refusal of `store`, or more than `bound` entries.
template <class Store>
bool RunList(Program& program, SocketLayer& socket, char code, std::string_view data_after_flag,
             const std::string& list_name, int32_t bound, Store store) {
  std::string flag = "S";
  for (int32_t served = 0;;) {
    hostlink::ExchangeReply reply =
        hostlink::Exchange(socket, program, kRoutine, code, flag + std::string(data_after_flag),
                           program.stats.Ritardo_Link);
    flag = "N";
    if (reply.outcome == hostlink::ExchangeReply::Outcome::kRefused) return true;
    if (!reply.served()) return false;
    // Skipped entries count too: a host that skips forever is stopped as well.
    if (++served > bound) {
      program.Scrivi_Messaggio(TooLongMessage(list_name, bound));
      return false;
    }
    EntryReader entry(socket);
    const std::string mark = entry.Text(hostlink::kEntryMark);
    const bool stored = entry.status().ok() && (mark != " " || store(entry));
    if (!entry.status().ok()) {
      program.Scrivi_Messaggio(ReadErrorMessage(code));
      return false;
    }
    if (!stored) return false;
  }
}

bool Fail(Program& program, const std::string& cause = "") {
  if (!cause.empty()) program.Scrivi_Messaggio(cause);
  program.Scrivi_Messaggio("Errore generico in Carica_File");
  return false;
}

}  // namespace

bool Carica_File(Program& program, SocketLayer& socket, Catalogue& catalogue) {
  CatalogueWriter writer(program.paths, program.settings.Durevole);
  if (Status s = writer.Begin(); !s.ok()) return Fail(program, WriteErrorMessage(s));

  std::vector<DataBase_Rec> databases;
  program.Scrivi_Messaggio("   Carica elenco database");
  bool ok = RunList(program, socket, hostlink::kRequestDatabases, "", "L'elenco dei database",
                    kMaxCatalogueDatabases, [&](EntryReader& e) {
                      DataBase_Rec r;
                      r.Nome_DB = e.Text(db_entry::kName);
                      r.Server_DB = e.Text(db_entry::kServer);
                      r.Indirizzo_DB = e.Text(db_entry::kAddress);
                      r.Utente_DB = e.Text(db_entry::kUser);
                      r.Password_DB = Codifica_Parametri(e.Text(db_entry::kPassword)).text;
                      r.Cartella_DB = e.Text(db_entry::kFolder);
                      if (!e.status().ok()) return false;
                      databases.push_back(std::move(r));
                      return true;
                    });
  if (!ok || databases.empty()) return Fail(program);
  if (Status s = writer.Write(databases); !s.ok()) return Fail(program, WriteErrorMessage(s));
  std::vector<bool> db_ritorno(databases.size() + 1, false);

  std::vector<File_Rec> files;
  program.Scrivi_Messaggio("   Carica elenco files");
  ok = RunList(program, socket, hostlink::kRequestFiles, "", "L'elenco dei file",
               kMaxCatalogueFiles, [&](EntryReader& e) {
                 File_Rec r;
                 r.Libreria = e.Text(file_entry::kLibrary);
                 r.File = e.Text(file_entry::kFile);
                 r.Testo = e.Text(file_entry::kText);
                 r.Libreria_Trigger = e.Text(file_entry::kTriggerLibrary);
                 r.Trigger = e.Text(file_entry::kTrigger);
                 r.As_Pc = e.Text(file_entry::kAsPc);
                 r.Pc_As = e.Text(file_entry::kPcAs);
                 r.Acq = e.Text(file_entry::kAcq);
                 r.DataBase = e.Text(file_entry::kDatabase);
                 r.Libreria_Filtro = e.Text(file_entry::kFilterLibrary);
                 r.Filtro = e.Text(file_entry::kFilter);
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
                 files.push_back(std::move(r));
                 return true;
               });
  if (!ok) return Fail(program);
  if (Status s = writer.Write(files); !s.ok()) return Fail(program, WriteErrorMessage(s));

  std::vector<Campo_Rec> fields;
  for (size_t k = 1; k <= files.size(); ++k) {
    const File_Rec& f = files[k - 1];
    const std::string library = PadRight(f.Libreria, size_t(field_request::kLibrary.len));
    const std::string file = PadRight(f.File, size_t(field_request::kFile.len));
    const std::string name = LibraryFile(f.Libreria, f.File);
    fields.clear();
    program.Scrivi_Messaggio("   Carica campi di " + name);
    ok = RunList(program, socket, hostlink::kRequestFields, library + file,
                 "L'elenco dei campi di " + name, kMaxCatalogueFields, [&](EntryReader& e) {
                   Campo_Rec r;
                   r.Nome = e.Text(field_entry::kName);
                   r.Testo = e.Text(field_entry::kText);
                   r.Tipo = e.Text(field_entry::kType);
                   r.Lunghezza = e.Packed(field_entry::kDigits);
                   r.Decimali = e.Packed(field_entry::kDecimals);
                   r.Posizione = e.Packed(field_entry::kPosition);
                   r.Byte = e.Packed(field_entry::kBytes);
                   r.Escluso = e.Text(field_entry::kExcluded);
                   if (!e.status().ok()) return false;
                   fields.push_back(std::move(r));
                   return true;
                 });
    if (!ok) return Fail(program);
    if (Status s = writer.WriteFields(int(k), fields); !s.ok()) {
      return Fail(program, WriteErrorMessage(s));
    }
  }

  if (Status s = writer.Commit(); !s.ok()) return Fail(program, WriteErrorMessage(s));
  catalogue.N_DB = int32_t(databases.size());
  catalogue.DB_Ritorno = std::move(db_ritorno);
  return true;
}

}  // namespace torvan
