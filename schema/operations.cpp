#include "schema/operations.h"

#include "catalogue/catalogue_files.h"
#include "core/text.h"

namespace torvan {

namespace {

constexpr char kNonEsiste[] = "non esiste";
constexpr char kNoPermesso[] = "no permesso";

// Sends the statements in order; the first failure is reported through Errori_SQL.
bool Run(Schema& s, int32_t db, std::initializer_list<std::string> statements) {
  sql::Connection* c = s.connessioni.at(db);
  for (const std::string& statement : statements) {
    if (c == nullptr || !c->Execute(statement).ok()) {
      Errori_SQL(s.program, s.connessioni, db);
      return false;
    }
  }
  return true;
}

const FileEntry* Entry(Schema& s, int n) {
  if (n < 1 || n > s.catalogue.N_File || size_t(n) >= s.catalogue.Tab_File.size()) return nullptr;
  return &s.catalogue.Tab_File[size_t(n)];
}

void CreateMasterWhenMissing(Schema& s, const FileEntry& f) {
  if (Conta_Record(s, f.Indice_DB, kMasterTable) != kNonEsiste) return;
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

bool Confirm(Schema& s, Owner owner, const FileEntry& f, std::string_view table, bool force) {
  bool answer = false;
  std::string c = Conta_Record(s, f.Indice_DB, table);
  if (c == kNoPermesso) {
    s.confirmations.ShowRefusal(owner, kCancellaFileTitle, RefusalText(f.DataBase, table));
  } else if (c == kNonEsiste || c == "0" || force) {
    answer = true;
  } else {
    answer =
        s.confirmations.AskOkCancel(owner, kCancellaFileTitle, QuestionText(f.DataBase, table, c));
  }
  s.program.ProcessEvents();
  return answer;
}

}  // namespace

std::string Conta_Record(Schema& s, int32_t db, std::string_view table) {
  sql::Connection* c = s.connessioni.at(db);
  if (c == nullptr) return kNonEsiste;
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
  if (!found) {
    c->ClearErrors();
    return kNonEsiste;
  }
  c->ClearErrors();
  std::unique_ptr<sql::Recordset> rs;
  if (!c->OpenRecordset(CountRows(name), &rs).ok() || rs == nullptr) {
    c->ClearErrors();  // the answer says it: the table cannot be counted
    return kNoPermesso;
  }
  s.program.ProcessEvents();
  std::string result = "0";
  if (!rs->Eof() && rs->FieldCount() > 0) {
    long long count = std::atoll(rs->Value(0).text.c_str());
    if (count > 0) result = FormatRowCount(count);
  }
  return result;
}

bool Cancella_Tabella(Schema& s, int32_t db, std::string_view table) {
  return Run(s, db, {DropTableIfExists(table)});
}

bool Crea_Tabella(Schema& s, int32_t db, std::string_view table,
                  const std::vector<ColumnDef>& columns, bool index) {
  if (!Run(s, db, {DropTableIfExists(table), CreateTable(table, columns)})) return false;
  return !index || Run(s, db, {CreateIndex(table)});
}

bool Crea_Triggers(Schema& s, int32_t db, std::string_view file, std::string_view event,
                   const std::vector<ColumnDef>& mirror_columns) {
  std::string list = TriggerColumnList(mirror_columns);
  return Run(s, db,
             {DropTriggerIfExists(file, 'D'), DropTriggerIfExists(file, 'I'),
              DropTriggerIfExists(file, 'U'), DropTriggerIfExists(event, 'I'),
              CreateDeleteTrigger(file, event, list), CreateInsertTrigger(file, event, list),
              CreateUpdateTrigger(file, event, list), CreateMasterTrigger(file, event)});
}

bool Crea_Trigger_Master(Schema& s, int32_t db, std::string_view file, std::string_view event) {
  return Run(s, db, {DropTriggerIfExists(event, 'I'), CreateMasterTrigger(file, event)});
}

bool Conferma_Cancella_File(Schema& s, Owner owner, int n, bool force) {
  const FileEntry* f = Entry(s, n);
  return f != nullptr && Confirm(s, owner, *f, f->File, force);
}

bool Conferma_Cancella_Master(Schema& s, Owner owner, int n, bool force) {
  const FileEntry* f = Entry(s, n);
  return f != nullptr && Confirm(s, owner, *f, kMasterTable, force);
}

void Crea_File(Schema& s, int n) {
  const FileEntry* entry = Entry(s, n);
  if (entry == nullptr) return;
  const FileEntry& f = *entry;
  const std::string name = f.DataBase + "/" + f.File;
  s.program.Scrivi_Messaggio("Creazione del file " + name + " in corso ...");
  if (f.Pc_As) CreateMasterWhenMissing(s, f);

  std::vector<Campo_Rec> fields;
  (void)ReadCampoRecs(s.program.paths.FieldFile(n), &fields);
  std::vector<ColumnDef> data = DataColumns(fields);
  if (data.empty()) {
    s.program.Scrivi_Messaggio("ERRORE nella creazione del file " + name + " MANCANO I CAMPI");
    return;
  }
  std::vector<ColumnDef> mirror = MirrorColumns(data, f.Pc_As);
  Report(s, Crea_Tabella(s, f.Indice_DB, f.File, mirror, true), "Creazione del file " + name,
         "creazione del file " + name);
  if (f.Pc_As) {
    const std::string event = f.File + "___";
    Report(s, Crea_Tabella(s, f.Indice_DB, event, EventColumns(data), false),
           "Creazione del file di supporto per " + name,
           "creazione del file di supporto per " + name);
    Report(s, Crea_Triggers(s, f.Indice_DB, f.File, event, mirror),
           "Creazione dei triggers per " + name, "creazione dei triggers per " + name);
  }
  s.program.ProcessEvents();
}

void Cancella_File(Schema& s, Owner owner, int n, bool force) {
  const FileEntry* entry = Entry(s, n);
  if (entry == nullptr || !Conferma_Cancella_File(s, owner, n, force)) {
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

void Crea_File_Eventi(Schema& s, Owner owner) {
  s.program.Scrivi_Messaggio("Creazione dei files degli eventi in corso ...");
  const int count = s.catalogue.N_File;
  for (int n = 1; n <= count; ++n) {
    const FileEntry& f = s.catalogue.Tab_File[size_t(n)];
    if (f.Pc_As && Conferma_Cancella_Master(s, owner, n, false)) {
      (void)Cancella_Tabella(s, f.Indice_DB, kMasterTable);
    }
  }
  for (int n = 1; n <= count; ++n) {
    const FileEntry& f = s.catalogue.Tab_File[size_t(n)];
    if (!f.Pc_As) continue;
    CreateMasterWhenMissing(s, f);
    const std::string name = f.DataBase + "/" + f.File;
    Report(s, Crea_Trigger_Master(s, f.Indice_DB, f.File, f.File + "___"),
           "Creazione dei triggers per " + name, "creazione dei triggers per " + name);
  }
  s.program.Scrivi_Messaggio("Creazione dei files degli eventi completata");
  s.program.ProcessEvents();
}

}  // namespace torvan
