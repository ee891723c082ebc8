#include "replication/host_to_sql.h"

#include <algorithm>
#include <cstdlib>

#include "core/text.h"
#include "hostlink/exchange.h"
#include "hostlink/field.h"
#include "hostlink/host_format.h"
#include "hostlink/time_exchange.h"
#include "platform/file.h"
#include "replication/image_archive.h"
#include "replication/journal_position.h"
#include "replication/kill_point.h"
#include "schema/operations.h"
#include "schema/statements.h"
#include "sql/connection.h"

namespace torvan {

namespace {

constexpr char kRoutine[] = "Server_SQL_Sincro";
constexpr int kSlot = hostlink::SocketLayer::kLinkSlot;

// The leading whole number of a decoded field ("0000123 " -> 123, "-45" -> -45).
int64_t WholeValue(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (v > (INT64_MAX - 9) / 10) break;
    v = v * 10 + (text[i] - '0');
  }
  return negative ? -v : v;
}

// A decoded numeric field that SQL reads as one number: blanks around it, an optional "-",
// digits with at most one ".". The decoder gives a zoned half-byte above 9 as ":" to "?"
// and a packed sign half-byte inside the digits as a blank, as the host's bytes say; such
// a value must not reach a statement's text.
bool IsNumberText(std::string_view text) {
  size_t i = 0, end = text.size();
  while (i < end && text[i] == ' ') ++i;
  while (end > i && text[end - 1] == ' ') --end;
  if (i < end && text[i] == '-') ++i;
  size_t digits = 0, points = 0;
  for (; i < end; ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      ++digits;
    } else if (text[i] == '.' && points == 0) {
      ++points;
    } else {
      return false;
    }
  }
  return digits > 0;
}

hostlink::FieldText Decode(const hostlink::CharTables& tables, std::string_view data, int32_t base,
                           const CampoEntry& f) {
  return hostlink::Field_Decode(tables, data, hostlink::TypeLetter(f.Tipo), base + f.Posizione,
                                f.Byte, f.Lunghezza, f.Decimali);
}

}  // namespace

Status BuildChangeStatements(const hostlink::CharTables& tables, std::string_view data,
                             const HostChange& change, const FileEntry& file,
                             const std::vector<CampoEntry>& fields, int index_field,
                             ChangeStatements* out) {
  ChangeStatements r;
  if (index_field >= 0) {
    const hostlink::FieldText v =
        Decode(tables, data, change.after_base, fields[size_t(index_field)]);
    if (!v.ok()) return v.status;
    r.idx = WholeValue(v.text);
  }
  const std::string where = WhereIdxOrRrn(r.idx, change.rrn);
  if (file.Pc_As) r.statements.push_back(MarkRowsDeleted(file.File, where));
  r.statements.push_back(DeleteRows(file.File, where));
  if (change.code == '1' || change.code == '3') {
    std::string columns = "INSERT INTO [" + BracketName(file.File) + "] (";
    std::string values;
    for (int k = 0; k < int(fields.size()); ++k) {
      if (k == index_field) continue;
      const CampoEntry& f = fields[size_t(k)];
      columns += Trim(f.Nome_Sql) + ",";
      const int32_t start = change.after_base + f.Posizione;
      hostlink::FieldText v;
      if (hostlink::IsTextField(f.Tipo)) {
        v = Decode(tables, data, change.after_base, f);
        if (v.ok()) v.text = "'" + QuoteValue(v.text) + "'";
      } else if (hostlink::TypeLetter(f.Tipo) == 'P' && f.Lunghezza == hostlink::kAmountDigits &&
                 f.Decimali == hostlink::kAmountDecimals && f.Byte == hostlink::kAmountBytes) {
        // The amount form reads nine bytes: a field of 17 digits in other bytes is read as
        // the packed field it is.
        v = hostlink::Field_DecodeAmount(data, start);
      } else {
        v = Decode(tables, data, change.after_base, f);
      }
      if (!v.ok()) return Status::Fault("campo " + f.Nome + ": " + v.status.message());
      if (!hostlink::IsTextField(f.Tipo) && !IsNumberText(v.text)) {
        return Status::Fault("campo " + f.Nome + ": valore non numerico \"" + v.text + "\"");
      }
      values += v.text + ",";
    }
    columns += "[_T_RRN___]";
    if (file.Pc_As) columns += ",[_T_TIPO___]";
    columns += ") VALUES(" + values + std::to_string(change.rrn);
    if (file.Pc_As) columns += ",'S'";
    columns += ")";
    r.statements.push_back(std::move(columns));
  }
  *out = std::move(r);
  return Status::Ok();
}

std::string HostChangeLogLine(const HostChange& change, int64_t idx) {
  std::string line = "AS--> " + change.library + "/" + change.file;
  const std::string numbers = " RRN:" + std::to_string(change.rrn) + " IDX:" + std::to_string(idx);
  switch (change.code) {
    case '1':
      return line + " ADD" + numbers;
    case '2':
      return line + " DEL" + numbers;
    case '3':
      return line + " UPD" + numbers;
    case '4':
      return line + " CLEAR";
    default:
      return line + " COD:" + std::string(1, change.code) + numbers;
  }
}

HostToSql::HostToSql(Runtime& rt, Confirmations& confirmations, Pending& pending)
    : rt_(rt),
      confirmations_(confirmations),
      pending_(pending),
      fault_(rt.program),
      journal_fault_(rt.program) {}

HostToSql::~HostToSql() = default;

void HostToSql::LinkLost() {
  // The exchange gave up: what the host sends next may answer the old request. The link
  // is closed and the cycle opens it again.
  rt_.socket.Sock_Close(kSlot);
  rt_.program.state.LinkUp = false;
}

size_t HostToSql::JournalDepth() const { return journal_ ? journal_->waiting().size() : 0; }

bool HostToSql::Server_SQL_Sincro() {
  Program& program = rt_.program;
  RunState& state = program.state;
  if (!state.Collegato_SQL || !pending_.Ready()) return false;
  if (!OpenJournal()) return false;

  const platform::MonotonicTime now = program.clock->Monotonic();
  const int32_t restart = program.settings.parametri.Attesa_Restart;
  if (state.LinkUp && now > state.LastTimeExchange + platform::Days(restart == 0 ? 0.002 : 0.001)) {
    state.LastTimeExchange = now;
    (void)hostlink::TimeExchange(program, rt_.socket, kRoutine);  // its failure is logged
    if (!rt_.socket.connected(kSlot)) LinkLost();
  }

  const double start = platform::SecondsSinceMidnight(program.Now());
  const bool worked = Work(start);
  ShowDepth();
  return worked;
}

bool HostToSql::Work(double start) {
  RunState& state = rt_.program.state;
  bool worked = false;
  // What the journal holds goes first (after a restart, a change held): a change that
  // cannot be applied stops the asking, so the host keeps what follows it.
  if (!journal_->waiting().empty()) {
    bool blocked = false;
    worked = ApplyWaiting(start, &blocked);
    if (blocked) return worked;
  }
  if (!state.LinkUp) return worked;
  const bool received = Receive(start);
  if (!journal_->waiting().empty()) {
    bool blocked = false;
    if (ApplyWaiting(start, &blocked)) worked = true;
    if (blocked) return worked;  // what came is held: no reason to call again at once
  }
  return worked || received;
}

bool HostToSql::FindTarget(const HostChange& change, int* number, FileEntry* entry,
                           Failure* failure) {
  *number = 0;
  const Catalogue& catalogue = rt_.catalogue;
  int n = 0;
  for (int k = 1; k <= catalogue.N_File && k < int(catalogue.Tab_File.size()); ++k) {
    const FileEntry& f = catalogue.Tab_File[size_t(k)];
    if (f.File == change.file && f.Libreria == change.library && f.As_Pc) {
      n = k;
      break;
    }
  }
  if (n == 0) return true;
  failure->file_number = n;
  // A copy: the catalogue may be rebuilt while events run (rebuilding a cleared file).
  const FileEntry file = catalogue.Tab_File[size_t(n)];
  if (file.Nome_In_Conflitto) {
    failure->reason = "il file condivide il nome di una tabella SQL con un altro file";
    return false;
  }
  if (file.Tracciato_Errato) {
    failure->reason = "il tracciato del file nel catalogo non pu\xF2 essere giusto";
    return false;
  }
  sql::Connection* connection = rt_.connessioni.at(file.Indice_DB);
  if (connection == nullptr) {
    failure->reason = "nessun database collegato per " + file.DataBase;
    return false;
  }
  if (!connection->IsOpen()) positions_.erase(file.Indice_DB);
  if (!ReopenIfLost(rt_.program, rt_.connessioni, file.Indice_DB, file.DataBase)) {
    StatementFailed(connection, file, Status::Closed("database non collegato"), failure);
    failure->reason = "il database " + file.DataBase + " non si ricollega: " + failure->reason;
    return false;
  }
  *number = n;
  *entry = file;
  return true;
}

void HostToSql::Failed(const HostChange& change, HeldChange& held, const Failure& failure) {
  Program& program = rt_.program;
  const std::string what = "modifica " + change.library + "/" + change.file + " codice " +
                           std::string(1, change.code) + " RRN " + std::to_string(change.rrn);
  ++held.attempts;
  held.last_error = failure.reason;
  (void)pending_.Save();
  if (const sql::SqlError* busy = sql::FindError(failure.errors, sql::IsBusy)) {
    // Another program holds the database: said when the wait starts and when it ends.
    const std::string on = failure.where.empty() ? std::string("il database") : failure.where;
    if (fault_.Failed("lock", "in attesa del lock su " + on + ": " + what)) {
      program.Scrivi_Messaggio("[Server_SQL_Sincro] In attesa del lock su " + on + ": " + what +
                               " (" + busy->description + ")");
    }
    return;
  }
  // Anything else: the connection's errors in full the first time, one line a call.
  if (fault_.Failed(failure.reason)) {
    if (!failure.errors.empty() && !failure.reported) Errori_SQL(program, failure.errors);
    for (const sql::SqlError& e : failure.errors) {
      const std::string table = sql::MissingTable(e);
      if (table.empty()) continue;
      program.Scrivi_Messaggio("[Server_SQL_Sincro] " +
                               MissingTableHint(failure.where.substr(0, failure.where.find('/')),
                                                table, failure.file_number));
      break;
    }
  }
  program.Scrivi_Messaggio("[Server_SQL_Sincro] Modifica trattenuta: " + change.library + "/" +
                           change.file + " codice " + std::string(1, change.code) + " RRN " +
                           std::to_string(change.rrn) + ": " + failure.reason);
}

void HostToSql::StatementFailed(sql::Connection* c, const FileEntry& file, const Status& s,
                                Failure* failure) {
  Failure& f = *failure;
  f.where = file.DataBase + "/" + file.File;
  f.errors.clear();
  if (c != nullptr) {
    f.errors = c->Errors();
    c->ClearErrors();
    // A connection whose link failed is opened again at the next try.
    if (sql::FindError(f.errors, sql::IsConnectionLost) != nullptr) c->Close();
  }
  f.reason = f.errors.empty() ? s.message() : f.errors.front().description;
}

bool HostToSql::KeepIndexAbove(const FileEntry& file, int64_t idx, Failure* failure) {
  const std::string key = std::to_string(file.Indice_DB) + "/" + file.File;
  auto known = identity_floor_.find(key);
  if (known != identity_floor_.end() && idx <= known->second) return true;
  Schema schema{rt_.program, rt_.catalogue, rt_.connessioni, confirmations_};
  schema.quiet = true;
  sql::Connection* c = rt_.connessioni.at(file.Indice_DB);
  int64_t last = 0;
  if (known == identity_floor_.end()) {
    if (!LastIdentity(schema, file.Indice_DB, file.File, &last)) {
      StatementFailed(c, file, Status::IoError("ultimo indice illeggibile"), failure);
      return false;
    }
    known = identity_floor_.emplace(key, last).first;
    if (idx <= last) return true;
  }
  if (!KeepIdentityAbove(schema, file.Indice_DB, file.File, idx)) {
    failure->where = file.DataBase + "/" + file.File;
    failure->errors = schema.failed;
    failure->reason =
        schema.failed.empty() ? "l'indice non si aggiorna" : schema.failed.front().description;
    return false;
  }
  known->second = idx;
  return true;
}

bool HostToSql::ApplyRow(std::string_view data, const HostChange& change, const FileEntry& file,
                         int64_t* idx, Failure* failure) {
  *idx = 0;
  const Catalogue& catalogue = rt_.catalogue;
  sql::Connection* connection = rt_.connessioni.at(file.Indice_DB);
  std::vector<CampoEntry> fields;
  int index_field = -1;
  for (int32_t k = file.Primo_Campo;
       k >= 1 && k <= file.Ultimo_Campo && k < int32_t(catalogue.Tab_Campi.size()); ++k) {
    if (k == file.Campo_IDX) index_field = int(fields.size());
    fields.push_back(catalogue.Tab_Campi[size_t(k)]);
  }
  ChangeStatements plan;
  Status s =
      BuildChangeStatements(rt_.socket.tables(), data, change, file, fields, index_field, &plan);
  if (!s.ok()) {
    failure->reason = s.message();
    return false;
  }
  *idx = plan.idx;
  if (file.Pc_As && plan.idx > 0 && !KeepIndexAbove(file, plan.idx, failure)) return false;
  const bool archive = file.File == hostlink::image_archive::kFileName;
  const std::string folder = size_t(file.Indice_DB) < catalogue.Tab_Cartelle_DB.size()
                                 ? catalogue.Tab_Cartelle_DB[size_t(file.Indice_DB)]
                                 : std::string();
  // The statements: [UPDATE ... 'D'], DELETE, [INSERT]. The archive's image files go
  // with the DELETE and come back with the INSERT.
  const size_t delete_at = file.Pc_As ? 1 : 0;
  Conflicts& conflicts = pending_.conflicts();
  if (file.Pc_As &&
      !conflicts.BeforeHostApply(rt_, file, change, data, plan.idx,
                                 WhereIdxOrRrn(plan.idx, change.rrn), &failure->reason)) {
    const std::string why = failure->reason;
    StatementFailed(connection, file, Status::IoError(why), failure);
    failure->reason =
        why + (failure->errors.empty() ? "" : ": " + failure->errors.front().description);
    return false;
  }
  const size_t statements = file.Pc_As && conflicts.SkipHost() ? 0 : plan.statements.size();
  if (!archive && statements > 0) {
    // Nothing comes between them: the engine may send them together.
    size_t done = 0;
    s = connection->ExecuteAll(plan.statements, &done);
    if (!s.ok()) {
      StatementFailed(connection, file, s, failure);
      return false;
    }
  }
  for (size_t k = 0; archive && k < statements; ++k) {
    s = connection->Execute(plan.statements[k]);
    if (!s.ok()) {
      StatementFailed(connection, file, s, failure);
      return false;
    }
    if (archive && k == delete_at) {
      s = DeleteImages(rt_.program, rt_.socket.tables(), data, change, folder);
    } else if (archive && k == delete_at + 1) {
      s = FetchImages(rt_.program, rt_.socket, data, change, folder);
    }
    if (!s.ok()) {
      failure->reason = s.message();
      return false;
    }
  }
  if (file.Pc_As) {
    std::string why;
    if (!conflicts.AfterHostApply(rt_, file, change, &why)) {
      StatementFailed(connection, file, Status::IoError(why), failure);
      failure->reason =
          why + (failure->errors.empty() ? "" : ": " + failure->errors.front().description);
      return false;
    }
    conflicts.HostApplied(file, plan.idx);
  }
  return true;
}

bool HostToSql::SetAsideUnsent(const FileEntry& file, Failure* failure) {
  Program& program = rt_.program;
  sql::Connection* c = rt_.connessioni.at(file.Indice_DB);
  const std::string event_table = file.File + "___";
  const FileEntry event_entry = [&] {
    FileEntry e = file;
    e.File = event_table;
    return e;
  }();
  std::unique_ptr<sql::Recordset> rs;
  Status s = c->OpenRecordset("SELECT * FROM " + BracketName(event_table), &rs);
  if (!s.ok()) {
    // Only a table that is not there has nothing to keep: any other failure (a lock, the
    // disk) holds the clear until the rows can be read.
    if (const sql::SqlError* e = sql::FindError(
            c->Errors(), [](const sql::SqlError& x) { return !sql::MissingTable(x).empty(); });
        e != nullptr) {
      c->ClearErrors();
      return true;
    }
    StatementFailed(c, event_entry, s, failure);
    failure->reason =
        "le modifiche non inviate di " + failure->where + " non si leggono: " + failure->reason;
    return false;
  }
  // A row kept by an earlier try of this clear (one rolled back, or cut by a kill) is in
  // the file already, word for word: it is not kept twice. Rows of one event table never
  // share their _T_PROGR___, also across rebuilds.
  std::string kept;
  (void)platform::ReadFile(program.paths.set_aside_log, &kept);
  kept = Utf8ToCp1252(kept);
  const std::string head =
      "non inviata: " + file.Libreria + "/" + file.File + " svuotato sul sistema origine\r\n ";
  std::string record;
  int64_t count = 0;
  const std::string when = platform::DateTimeText(program.Now());
  while (!rs->Eof()) {
    std::string values;
    for (int i = 0; i < rs->FieldCount(); ++i) {
      values += " " + rs->FieldName(i) + "=" + rs->Value(i).text;
    }
    if (kept.find(head + values + "\r\n") == std::string::npos) {
      record += "Accantonata il " + when + ", " + head + values + "\r\n";
      ++count;
    }
    if (!(s = rs->MoveNext()).ok()) {
      // Part of the rows only: nothing is written, and the table stays.
      StatementFailed(c, event_entry, s, failure);
      failure->reason = "le modifiche non inviate di " + failure->where +
                        " non si leggono tutte: " + failure->reason;
      return false;
    }
  }
  rs.reset();
  if (count == 0) return true;
  // On the disk before the table goes (with Durevole, synced).
  s = platform::AppendToFile(program.paths.set_aside_log, Cp1252ToUtf8(record),
                             program.settings.Durevole);
  if (!s.ok()) {
    failure->reason = "le modifiche non inviate di " + file.DataBase + "/" + file.File +
                      " non si accantonano: " + s.message();
    return false;
  }
  program.Scrivi_Messaggio("[Server_SQL_Sincro] " + std::to_string(count) +
                           " modifiche non inviate di " + file.DataBase + "/" + file.File +
                           " accantonate in " + program.paths.set_aside_log +
                           " (file svuotato sul sistema origine)");
  return true;
}

bool HostToSql::RebuildCleared(int n, const FileEntry& file, Failure* failure) {
  Schema schema{rt_.program, rt_.catalogue, rt_.connessioni, confirmations_};
  std::string why;
  // The clear wins: what the PC sent after it, before it arrived, goes from the host too.
  if (!pending_.conflicts().BeforeClear(file, &why)) {
    failure->where = file.DataBase + "/" + file.File;
    failure->reason = why;
    return false;
  }
  const bool rebuilt = RebuildClearedFile(
      schema, n,
      [&](std::string* reason) {
        Failure kept;
        if (SetAsideUnsent(file, &kept)) return true;
        *reason = kept.reason;
        schema.failed = kept.errors;
        return false;
      },
      &why);
  if (rebuilt) {
    pending_.conflicts().Cleared(file);
    identity_floor_.erase(std::to_string(file.Indice_DB) + "/" + file.File);
    return true;
  }
  failure->where = file.DataBase + "/" + file.File;
  failure->errors = schema.failed;
  failure->reason = why;
  if (!schema.failed.empty() && why.find(schema.failed.front().description) == std::string::npos) {
    failure->reason += ": " + schema.failed.front().description;
  }
  if (sql::Connection* c = rt_.connessioni.at(file.Indice_DB)) {
    c->ClearErrors();
    if (sql::FindError(failure->errors, sql::IsConnectionLost) != nullptr) c->Close();
  }
  return false;
}

}  // namespace torvan
