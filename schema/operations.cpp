#include "schema/operations.h"

#include <optional>

#include <cstdlib>

#include "catalogue/catalogue_files.h"
#include "catalogue/sql_names.h"
#include "core/text.h"
#include "schema/objects.h"
#include "schema/statements.h"

namespace torvan {

namespace {

constexpr char kErrorPrefix[] = "   *** ERRORE ***  ";

// Sends the statements in order, each rendered for the connection's dialect; the first
// failure is reported through Errori_SQL.
bool Run(Schema& s, int32_t db, const std::vector<SchemaStatement>& statements) {
  sql::Connection* c = s.connessioni.at(db);
  if (c == nullptr) {
    // Nothing to report through Errori_SQL: there is no connection to hold the error.
    s.program.Scrivi_Messaggio("ERRORE: il DataBase " + std::to_string(db) + " non \xE8 collegato");
    return false;
  }
  for (const SchemaStatement& statement : statements) {
    for (const std::string& text : Render(statement, c->dialect())) {
      if (!c->ExecuteNative(text).ok()) {
        Errori_SQL(s.program, s.connessioni, db);
        return false;
      }
    }
  }
  return true;
}

// A copy of the entry of file n, or nothing. The operations let events run, and a
// catalogue reload there would replace Tab_File under a reference (platform/event_pump.h,
// rule 3).
std::optional<FileEntry> Entry(const Schema& s, int n) {
  if (n < 1 || n > s.catalogue.N_File || size_t(n) >= s.catalogue.Tab_File.size()) {
    return std::nullopt;
  }
  return s.catalogue.Tab_File[size_t(n)];
}

void CreateMasterWhenMissing(Schema& s, const FileEntry& f) {
  if (!Conta_Record(s, f.Indice_DB, kMasterTable).absent()) return;
  if (Crea_Tabella(s, f.Indice_DB, kMasterTable, MasterColumns(), true)) {
    s.program.Scrivi_Messaggio("Creazione del file master per " + f.DataBase + " completata");
  } else {
    s.program.Scrivi_Messaggio("ERRORE nella creazione del file master per " + f.DataBase);
  }
}

// Reports a step: "<done> completata" or "ERRORE nella <failed>".
void Report(Schema& s, bool ok, const std::string& done, const std::string& failed) {
  s.program.Scrivi_Messaggio(ok ? done + " completata" : "ERRORE nella " + failed);
}

// Refuses file n when its names clash: "ERRORE nella <action> <db>/<file>: <why>".
bool RefusedForClash(Schema& s, int n, const std::string& action) {
  std::string why;
  if (!Nome_In_Conflitto(s, n, &why)) return false;
  const FileEntry f = *Entry(s, n);
  s.program.Scrivi_Messaggio("ERRORE nella " + action + " " + f.DataBase + "/" + f.File + ": " +
                             why);
  return true;
}

// Asks whether `table` (with `unsent` changes not yet sent that go with it) may be dropped.
bool Confirm(Schema& s, Owner owner, const FileEntry& f, std::string_view table,
             const RowCount& rows, const RowCount& unsent, std::string_view unsent_table,
             bool force) {
  bool answer = false;
  if (rows.no_permission()) {
    s.confirmations.ShowRefusal(owner, kCancellaFileTitle, RefusalText(f.DataBase, table));
  } else if (unsent.no_permission()) {
    // Whether changes would be lost cannot be told: the table is kept.
    s.confirmations.ShowRefusal(owner, kCancellaFileTitle, RefusalText(f.DataBase, unsent_table));
  } else if (force || (!rows.has_rows() && !unsent.has_rows())) {
    answer = true;
    if (unsent.has_rows()) {
      s.program.Scrivi_Messaggio("ATTENZIONE: per il file " + f.DataBase + "/" +
                                 std::string(table) + " " + UnsentText(unsent.rows()));
    }
  } else {
    std::string text = QuestionText(f.DataBase, table, rows.Text());
    if (unsent.has_rows()) text += "ATTENZIONE: " + UnsentText(unsent.rows()) + "\r";
    answer = s.confirmations.AskOkCancel(owner, kCancellaFileTitle, text, unsent.rows());
  }
  s.program.ProcessEvents();
  return answer;
}

}  // namespace

RowCount Conta_Record(Schema& s, int32_t db, std::string_view table) {
  sql::Connection* c = s.connessioni.at(db);
  if (c == nullptr) return RowCount::Absent();
  std::string name = Trim(table);
  std::vector<std::string> tables;
  bool found = false;
  if (c->ListTables(&tables).ok()) {
    for (const std::string& t : tables) {
      if (t == name) {
        found = true;
        break;
      }
    }
  }
  c->ClearErrors();
  if (!found) return RowCount::Absent();
  std::unique_ptr<sql::Recordset> rs;
  if (!c->OpenRecordset(CountRows(name), &rs).ok() || rs == nullptr) {
    c->ClearErrors();  // the answer says it: the table cannot be counted
    return RowCount::NoPermission();
  }
  s.program.ProcessEvents();
  int64_t count = 0;
  if (!rs->Eof() && rs->FieldCount() > 0) count = std::atoll(rs->Value(0).text.c_str());
  return RowCount::Counted(count);
}

bool Cancella_Tabella(Schema& s, int32_t db, std::string_view table) {
  return Run(s, db, {DropTable(table)});
}

bool Crea_Tabella(Schema& s, int32_t db, std::string_view table,
                  const std::vector<ColumnDef>& columns, bool index) {
  const std::string fault = LayoutFault(columns);
  if (!fault.empty()) {
    // Checked before the drop: a table that cannot be created again keeps its rows.
    s.program.Scrivi_Messaggio("ERRORE: la tabella " + Trim(table) +
                               " non si pu\xF2 creare: " + fault);
    return false;
  }
  return Run(s, db, TableStatements(table, columns, index));
}

bool Crea_Triggers(Schema& s, int32_t db, std::string_view file, std::string_view event,
                   const std::vector<ColumnDef>& mirror_columns) {
  return Run(s, db, TriggerStatements(file, event, mirror_columns));
}

bool Crea_Trigger_Master(Schema& s, int32_t db, std::string_view file, std::string_view event) {
  return Run(s, db, MasterTriggerStatements(file, event));
}

bool Nome_In_Conflitto(const Schema& s, int n, std::string* why) {
  const std::optional<FileEntry> f = Entry(s, n);
  if (!f) return false;
  for (const NameClash& clash : FindNameClashes(s.catalogue)) {
    if (clash.file != n && clash.other != n) continue;
    std::string message = NameClashMessage(s.catalogue, clash);
    if (message.rfind(kErrorPrefix, 0) == 0) message.erase(0, sizeof kErrorPrefix - 1);
    *why = message;
    return true;
  }
  if (f->Nome_In_Conflitto) {
    *why = "il nome \xE8 in conflitto con quello di un altro file del catalogo";
    return true;
  }
  return false;
}

RowCount Modifiche_Non_Inviate(Schema& s, int n) {
  const std::optional<FileEntry> f = Entry(s, n);
  if (!f) return RowCount::Absent();
  return Conta_Record(s, f->Indice_DB, f->File + "___");
}

bool Conferma_Cancella_File(Schema& s, Owner owner, int n, bool force) {
  const std::optional<FileEntry> f = Entry(s, n);
  std::string why;
  if (!f || Nome_In_Conflitto(s, n, &why)) return false;
  return Confirm(s, owner, *f, f->File, Conta_Record(s, f->Indice_DB, f->File),
                 Modifiche_Non_Inviate(s, n), f->File + "___", force);
}

bool Conferma_Cancella_Master(Schema& s, Owner owner, int n, bool force) {
  const std::optional<FileEntry> f = Entry(s, n);
  if (!f) return false;
  // Every master row stands for an event not yet sent to the host.
  const RowCount rows = Conta_Record(s, f->Indice_DB, kMasterTable);
  return Confirm(s, owner, *f, kMasterTable, rows, rows, kMasterTable, force);
}

void Crea_File(Schema& s, int n) {
  const std::optional<FileEntry> entry = Entry(s, n);
  if (!entry) return;
  const FileEntry& f = *entry;
  const std::string name = f.DataBase + "/" + f.File;
  s.program.Scrivi_Messaggio("Creazione del file " + name + " in corso ...");
  if (RefusedForClash(s, n, "creazione del file")) return;
  if (f.Pc_As) CreateMasterWhenMissing(s, f);

  std::vector<Campo_Rec> fields;
  (void)ReadCampoRecs(s.program.paths.FieldFile(n), &fields);
  std::vector<ColumnDef> data = DataColumns(fields);
  if (data.empty()) {
    s.program.Scrivi_Messaggio("ERRORE nella creazione del file " + name + " MANCANO I CAMPI");
    return;
  }
  std::vector<ColumnDef> mirror = MirrorColumns(data, f.Pc_As);
  std::vector<ColumnDef> event = EventColumns(data);
  // Everything the build needs is checked before its first drop.
  std::string fault = DataLayoutFault(data);
  if (fault.empty()) fault = LayoutFault(mirror);
  if (fault.empty() && f.Pc_As) fault = LayoutFault(event);
  if (!fault.empty()) {
    s.program.Scrivi_Messaggio("ERRORE nella creazione del file " + name + ": " + fault);
    return;
  }
  Report(s, Crea_Tabella(s, f.Indice_DB, f.File, mirror, true), "Creazione del file " + name,
         "creazione del file " + name);
  if (f.Pc_As) {
    const std::string event_table = f.File + "___";
    Report(s, Crea_Tabella(s, f.Indice_DB, event_table, event, false),
           "Creazione del file di supporto per " + name,
           "creazione del file di supporto per " + name);
    Report(s, Crea_Triggers(s, f.Indice_DB, f.File, event_table, mirror),
           "Creazione dei triggers per " + name, "creazione dei triggers per " + name);
  }
  s.program.ProcessEvents();
}

void Cancella_File(Schema& s, Owner owner, int n, bool force) {
  const std::optional<FileEntry> entry = Entry(s, n);
  if (!entry || RefusedForClash(s, n, "cancellazione del file") ||
      !Conferma_Cancella_File(s, owner, n, force)) {
    s.program.ProcessEvents();
    return;
  }
  const FileEntry& f = *entry;
  const std::string name = f.DataBase + "/" + f.File;
  s.program.Scrivi_Messaggio("Cancellazione del file " + name + " in corso ...");
  Report(s, Cancella_Tabella(s, f.Indice_DB, f.File), "Cancellazione del file " + name,
         "cancellazione del file " + name);
  s.program.Scrivi_Messaggio("Cancellazione del file di supporto per " + name + " in corso ...");
  Report(s, Cancella_Tabella(s, f.Indice_DB, f.File + "___"),
         "Cancellazione del file di supporto per " + name,
         "cancellazione del file di supporto per " + name);
  s.program.ProcessEvents();
}

void Costruisci_File(Schema& s, Owner owner, int n) {
  if (!Entry(s, n) || RefusedForClash(s, n, "creazione del file")) return;
  if (Conferma_Cancella_File(s, owner, n, false)) Crea_File(s, n);
}

void Crea_File_Eventi(Schema& s, Owner owner) {
  s.program.Scrivi_Messaggio("Creazione dei files degli eventi in corso ...");
  std::string why;
  for (int n = 1; n <= s.catalogue.N_File; ++n) {
    const std::optional<FileEntry> f = Entry(s, n);
    if (!f || !f->Pc_As || Nome_In_Conflitto(s, n, &why)) continue;
    if (Conferma_Cancella_Master(s, owner, n, false)) {
      (void)Cancella_Tabella(s, f->Indice_DB, kMasterTable);
    }
  }
  for (int n = 1; n <= s.catalogue.N_File; ++n) {
    const std::optional<FileEntry> entry = Entry(s, n);
    if (!entry || !entry->Pc_As) continue;
    const FileEntry& f = *entry;
    if (RefusedForClash(s, n, "creazione dei triggers per")) continue;
    CreateMasterWhenMissing(s, f);
    const std::string name = f.DataBase + "/" + f.File;
    Report(s, Crea_Trigger_Master(s, f.Indice_DB, f.File, f.File + "___"),
           "Creazione dei triggers per " + name, "creazione dei triggers per " + name);
  }
  s.program.Scrivi_Messaggio("Creazione dei files degli eventi completata");
  s.program.ProcessEvents();
}

}  // namespace torvan
