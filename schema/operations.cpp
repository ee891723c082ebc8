#include "schema/operations.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <utility>

#include "catalogue/catalogue_files.h"
#include "catalogue/sql_names.h"
#include "core/text.h"
#include "schema/objects.h"
#include "schema/statements.h"

namespace torvan {

namespace {

constexpr char kErrorPrefix[] = "   *** ERRORE ***  ";

// A message line of the operations, unless they are to be quiet.
void Say(Schema& s, const std::string& text) {
  if (s.lines != nullptr) {
    s.lines->push_back(text);
  } else if (!s.quiet) {
    s.program.Scrivi_Messaggio(text);
  }
}

// The errors of the statement that failed on database db: kept in s.failed for the caller,
// then written by Errori_SQL (or, quiet, only cleared).
void Failed(Schema& s, int32_t db) {
  sql::Connection* c = s.connessioni.at(db);
  s.failed = c != nullptr ? c->Errors() : std::vector<sql::SqlError>{};
  if (!s.quiet && s.lines == nullptr) {
    Errori_SQL(s.program, s.connessioni, db);
  } else if (c != nullptr) {
    c->ClearErrors();
  }
}

// Sends the statements in order, each rendered for the connection's dialect; the first
// failure is reported through Errori_SQL.
bool Run(Schema& s, int32_t db, const std::vector<SchemaStatement>& statements) {
  sql::Connection* c = s.connessioni.at(db);
  if (c == nullptr) {
    // Nothing to report through Errori_SQL: there is no connection to hold the error.
    s.failed.clear();
    Say(s, "ERRORE: il DataBase " + std::to_string(db) + " non \xE8 collegato");
    return false;
  }
  for (const SchemaStatement& statement : statements) {
    for (const std::string& text : Render(statement, c->dialect())) {
      if (!c->ExecuteNative(text).ok()) {
        Failed(s, db);
        return false;
      }
    }
  }
  return true;
}

bool HasIdentity(const std::vector<ColumnDef>& columns) {
  return std::any_of(columns.begin(), columns.end(),
                     [](const ColumnDef& c) { return c.Tipo == "x"; });
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

// False only when the master table was missing and could not be made.
bool CreateMasterWhenMissing(Schema& s, const FileEntry& f, int64_t above = 0) {
  if (!Conta_Record(s, f.Indice_DB, kMasterTable).absent()) return true;
  if (Crea_Tabella(s, f.Indice_DB, kMasterTable, MasterColumns(), true, above)) {
    Say(s, "Creazione del file master per " + f.DataBase + " completata");
    return true;
  }
  Say(s, "ERRORE nella creazione del file master per " + f.DataBase);
  return false;
}

// Reports a step: "<done> completata" or "ERRORE nella <failed>". Returns `ok`.
bool Report(Schema& s, bool ok, const std::string& done, const std::string& failed) {
  Say(s, ok ? done + " completata" : "ERRORE nella " + failed);
  return ok;
}

// Refuses file n when its names clash: "ERRORE nella <action> <db>/<file>: <why>".
bool RefusedForClash(Schema& s, int n, const std::string& action) {
  std::string why;
  if (!Nome_In_Conflitto(s, n, &why)) return false;
  const FileEntry f = *Entry(s, n);
  Say(s, "ERRORE nella " + action + " " + f.DataBase + "/" + f.File + ": " + why);
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
      Say(s, "ATTENZIONE: per il file " + f.DataBase + "/" + std::string(table) + " " +
                 UnsentText(unsent.rows()));
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
  if (!c->ListTables(&tables).ok()) {
    // A table that cannot be seen may well be there, with its rows: it cannot be counted,
    // so nothing drops it on the strength of this answer.
    c->ClearErrors();
    return RowCount::NoPermission();
  }
  if (std::find(tables.begin(), tables.end(), name) == tables.end()) return RowCount::Absent();
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

bool LastIdentity(Schema& s, int32_t db, std::string_view table, int64_t* last) {
  *last = 0;
  sql::Connection* c = s.connessioni.at(db);
  std::unique_ptr<sql::Recordset> rs;
  if (c == nullptr || !c->OpenRecordset(LastIdentityQuery(table), &rs).ok()) {
    s.failed = c != nullptr ? c->Errors() : std::vector<sql::SqlError>{};
    return false;
  }
  if (!rs->Eof() && rs->FieldCount() > 0 && !rs->Value(0).is_null) {
    *last = std::max<int64_t>(0, std::atoll(rs->Value(0).text.c_str()));
  }
  return true;
}

bool KeepIdentityAbove(Schema& s, int32_t db, std::string_view table, int64_t above) {
  return above <= 0 || Run(s, db, {ContinueIdentity(table, above)});
}

bool Crea_Tabella(Schema& s, int32_t db, std::string_view table,
                  const std::vector<ColumnDef>& columns, bool index, int64_t identity_above) {
  const std::string fault = LayoutFault(columns);
  if (!fault.empty()) {
    // Checked before the drop: a table that cannot be created again keeps its rows.
    Say(s, "ERRORE: la tabella " + Trim(table) + " non si pu\xF2 creare: " + fault);
    return false;
  }
  // A table made again numbers its rows above every number its old self gave: rows of
  // the old generation, and host records that keep their numbers, are never confused with
  // new ones.
  int64_t last = 0;
  const bool identity = HasIdentity(columns);
  if (identity && !LastIdentity(s, db, table, &last)) {
    Failed(s, db);
    return false;
  }
  if (!Run(s, db, TableStatements(table, columns, index))) return false;
  return !identity || KeepIdentityAbove(s, db, table, std::max(last, identity_above));
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

std::string MissingTableHint(std::string_view database, std::string_view table, int file_number) {
  std::string hint = "Manca la tabella " + std::string(database) + "/" + std::string(table);
  if (table == kMasterTable) {
    return hint +
           ": la crea torvan events (o torvan build all, se mancano anche le tabelle "
           "dei file)";
  }
  return hint + ": la crea torvan build " +
         (file_number > 0 ? std::to_string(file_number) : std::string("all"));
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

// The column lists of file n, checked: everything the build needs is checked before its
// first drop. False, after the message line, when the file cannot be built.
bool PlanFile(Schema& s, int n, const FileEntry& f, std::vector<ColumnDef>* mirror,
              std::vector<ColumnDef>* event) {
  const std::string name = f.DataBase + "/" + f.File;
  std::vector<Campo_Rec> fields;
  (void)ReadCampoRecs(s.program.paths.FieldFile(n), &fields);
  std::vector<ColumnDef> data = DataColumns(fields);
  if (data.empty()) {
    Say(s, "ERRORE nella creazione del file " + name + " MANCANO I CAMPI");
    return false;
  }
  *mirror = MirrorColumns(data, f.Pc_As);
  *event = EventColumns(data);
  std::string fault = DataLayoutFault(data);
  if (fault.empty()) fault = LayoutFault(*mirror);
  if (fault.empty() && f.Pc_As) fault = LayoutFault(*event);
  if (!fault.empty()) {
    Say(s, "ERRORE nella creazione del file " + name + ": " + fault);
    return false;
  }
  return true;
}

bool Crea_File(Schema& s, int n, const BuildSteps& steps) {
  const std::optional<FileEntry> entry = Entry(s, n);
  if (!entry) return false;
  const FileEntry& f = *entry;
  const std::string name = f.DataBase + "/" + f.File;
  Say(s, "Creazione del file " + name + " in corso ...");
  if (RefusedForClash(s, n, "creazione del file")) return false;
  bool all = !f.Pc_As || CreateMasterWhenMissing(s, f);
  if (!all && steps.stop_at_failure) return false;

  std::vector<ColumnDef> mirror, event;
  if (!PlanFile(s, n, f, &mirror, &event)) return false;
  all = Report(s, Crea_Tabella(s, f.Indice_DB, f.File, mirror, true, steps.mirror_above),
               "Creazione del file " + name, "creazione del file " + name) &&
        all;
  if (f.Pc_As && (all || !steps.stop_at_failure)) {
    const std::string event_table = f.File + "___";
    all = Report(s, Crea_Tabella(s, f.Indice_DB, event_table, event, false, steps.event_above),
                 "Creazione del file di supporto per " + name,
                 "creazione del file di supporto per " + name) &&
          all;
    if (all || !steps.stop_at_failure) {
      all = Report(s, Crea_Triggers(s, f.Indice_DB, f.File, event_table, mirror),
                   "Creazione dei triggers per " + name, "creazione dei triggers per " + name) &&
            all;
    }
  }
  s.program.ProcessEvents();
  return all;
}

namespace {

// The steps of RebuildClearedFile, inside its transaction.
bool RebuildSteps(Schema& s, int n, const FileEntry& f,
                  const std::function<bool(std::string*)>& set_aside, std::string* why) {
  const std::string name = f.DataBase + "/" + f.File;
  const std::string event_table = f.File + "___";
  std::vector<ColumnDef> mirror, event;
  if (!PlanFile(s, n, f, &mirror, &event)) {
    *why = "la tabella " + name + " non si pu\xF2 ricreare dal catalogo";
    return false;
  }
  if (Conta_Record(s, f.Indice_DB, f.File).no_permission()) {
    *why = "la tabella " + name + " non si pu\xF2 leggere";
    return false;
  }
  // The numbers the old tables gave, read before they go.
  BuildSteps steps;
  steps.stop_at_failure = true;
  if (HasIdentity(mirror) && (!LastIdentity(s, f.Indice_DB, f.File, &steps.mirror_above) ||
                              !LastIdentity(s, f.Indice_DB, event_table, &steps.event_above))) {
    Failed(s, f.Indice_DB);
    *why = "l'ultimo indice di " + name + " non si legge";
    return false;
  }
  // The mirror table goes first, with its triggers: no change made on the SQL side can
  // reach the event table after it, whose rows are then kept before it goes too.
  Say(s, "Cancellazione del file " + name + " in corso ...");
  if (!Report(s, Cancella_Tabella(s, f.Indice_DB, f.File), "Cancellazione del file " + name,
              "cancellazione del file " + name)) {
    *why = "la tabella " + name + " non si cancella";
    return false;
  }
  if (!set_aside(why)) return false;
  Say(s, "Cancellazione del file di supporto per " + name + " in corso ...");
  if (!Report(s, Cancella_Tabella(s, f.Indice_DB, event_table),
              "Cancellazione del file di supporto per " + name,
              "cancellazione del file di supporto per " + name)) {
    *why = "la tabella " + f.DataBase + "/" + event_table + " non si cancella";
    return false;
  }
  if (!Crea_File(s, n, steps)) {
    *why = "la tabella " + name + " non si ricrea";
    return false;
  }
  const RowCount rows = Conta_Record(s, f.Indice_DB, f.File);
  constexpr RowCount::State kCounted = RowCount::State::kCounted;
  if (rows.state() != kCounted || rows.rows() != 0 ||
      (f.Pc_As && Conta_Record(s, f.Indice_DB, event_table).state() != kCounted)) {
    *why = "la tabella " + name + " ricreata non risulta vuota";
    return false;
  }
  return true;
}

}  // namespace

bool RebuildClearedFile(Schema& s, int n, const std::function<bool(std::string*)>& set_aside,
                        std::string* why) {
  const std::optional<FileEntry> entry = Entry(s, n);
  if (!entry) {
    *why = "il file non \xE8 nel catalogo";
    return false;
  }
  const FileEntry& f = *entry;
  if (Nome_In_Conflitto(s, n, why)) return false;
  sql::Connection* c = s.connessioni.at(f.Indice_DB);
  if (c == nullptr) {
    *why = "il DataBase " + f.DataBase + " non \xE8 collegato";
    return false;
  }
  // One transaction: the old tables, their rows and their numbers stay as they were unless
  // the file is built again whole. The steps' lines are told once it is.
  if (!c->Begin().ok()) {
    Failed(s, f.Indice_DB);
    *why = "la ricostruzione di " + f.DataBase + "/" + f.File + " non comincia";
    return false;
  }
  std::vector<std::string> told;
  std::vector<std::string>* outer = std::exchange(s.lines, &told);
  bool rebuilt = RebuildSteps(s, n, f, set_aside, why);
  if (rebuilt && !c->Commit().ok()) {
    Failed(s, f.Indice_DB);
    *why = "la ricostruzione di " + f.DataBase + "/" + f.File + " non si conferma";
    rebuilt = false;
  }
  if (!rebuilt) c->Rollback();
  s.lines = outer;
  if (rebuilt) {
    for (const std::string& line : told) Say(s, line);
  }
  return rebuilt;
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
  Say(s, "Cancellazione del file " + name + " in corso ...");
  Report(s, Cancella_Tabella(s, f.Indice_DB, f.File), "Cancellazione del file " + name,
         "cancellazione del file " + name);
  Say(s, "Cancellazione del file di supporto per " + name + " in corso ...");
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
  Say(s, "Creazione dei files degli eventi in corso ...");
  std::string why;
  std::map<int32_t, int64_t> master_above;  // the last numbers of the master tables dropped
  for (int n = 1; n <= s.catalogue.N_File; ++n) {
    const std::optional<FileEntry> f = Entry(s, n);
    if (!f || !f->Pc_As || Nome_In_Conflitto(s, n, &why)) continue;
    if (Conferma_Cancella_Master(s, owner, n, false)) {
      int64_t last = 0;
      if (!LastIdentity(s, f->Indice_DB, kMasterTable, &last)) {
        Failed(s, f->Indice_DB);  // the table stays
        continue;
      }
      if (Cancella_Tabella(s, f->Indice_DB, kMasterTable)) {
        master_above[f->Indice_DB] = std::max(master_above[f->Indice_DB], last);
      }
    }
  }
  for (int n = 1; n <= s.catalogue.N_File; ++n) {
    const std::optional<FileEntry> entry = Entry(s, n);
    if (!entry || !entry->Pc_As) continue;
    const FileEntry& f = *entry;
    if (RefusedForClash(s, n, "creazione dei triggers per")) continue;
    CreateMasterWhenMissing(s, f, master_above[f.Indice_DB]);
    const std::string name = f.DataBase + "/" + f.File;
    Report(s, Crea_Trigger_Master(s, f.Indice_DB, f.File, f.File + "___"),
           "Creazione dei triggers per " + name, "creazione dei triggers per " + name);
  }
  Say(s, "Creazione dei files degli eventi completata");
  s.program.ProcessEvents();
}

}  // namespace torvan
