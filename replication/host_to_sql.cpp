#include "replication/host_to_sql.h"

#include "core/text.h"
#include "hostlink/exchange.h"
#include "hostlink/field.h"
#include "hostlink/host_format.h"
#include "hostlink/time_exchange.h"
#include "platform/file.h"
#include "replication/image_archive.h"
#include "replication/kill_point.h"
#include "schema/operations.h"
#include "schema/statements.h"

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

char TypeOf(const CampoEntry& field) { return field.Tipo.empty() ? ' ' : field.Tipo[0]; }

hostlink::FieldText Decode(const hostlink::CharTables& tables, std::string_view data, int32_t base,
                           const CampoEntry& f) {
  return hostlink::Field_Decode(tables, data, TypeOf(f), base + f.Posizione, f.Byte, f.Lunghezza,
                                f.Decimali);
}

std::string NowText(Program& program) {
  const platform::LocalDateTime t = program.Now();
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour,
                t.minute, t.second);
  return buf;
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
      if (TypeOf(f) == 'A') {
        v = Decode(tables, data, change.after_base, f);
        if (v.ok()) v.text = "'" + QuoteValue(v.text) + "'";
      } else if (TypeOf(f) == 'P' && f.Lunghezza == hostlink::kAmountDigits &&
                 f.Decimali == hostlink::kAmountDecimals && f.Byte == hostlink::kAmountBytes) {
        // The amount form reads nine bytes: a field of 17 digits in other bytes is read as
        // the packed field it is.
        v = hostlink::Field_DecodeAmount(data, start);
      } else {
        v = Decode(tables, data, change.after_base, f);
      }
      if (!v.ok()) return Status::Fault("campo " + f.Nome + ": " + v.status.message());
      if (TypeOf(f) != 'A' && !IsNumberText(v.text)) {
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
    : rt_(rt), confirmations_(confirmations), pending_(pending) {}

void HostToSql::LinkLost() {
  // The exchange gave up: what the host sends next may answer the old request. The link
  // is closed and the cycle opens it again.
  rt_.socket.Sock_Close(kSlot);
  rt_.program.state.LinkUp = false;
}

bool HostToSql::Server_SQL_Sincro() {
  Program& program = rt_.program;
  RunState& state = program.state;
  if (!state.LinkUp || !state.Collegato_SQL || !pending_.Ready()) return false;

  const platform::MonotonicTime now = program.clock->Monotonic();
  const int32_t restart = program.settings.parametri.Attesa_Restart;
  if (now > state.LastTimeExchange + platform::Days(restart == 0 ? 0.002 : 0.001)) {
    state.LastTimeExchange = now;
    (void)hostlink::TimeExchange(program, rt_.socket, kRoutine);  // its failure is logged
    if (!rt_.socket.connected(kSlot)) {
      LinkLost();
      return false;
    }
  }

  const double start = platform::SecondsSinceMidnight(program.Now());
  PendingState& pending = pending_.state();
  if (pending.held) return ApplyHeld(start);

  hostlink::ExchangeReply reply =
      hostlink::Exchange(rt_.socket, program, kRoutine, hostlink::kRequestChange, "",
                         program.stats.Stat_Contatori[kReceiveDelayCycles]);
  if (reply.outcome == hostlink::ExchangeReply::Outcome::kReadFailed) {
    LinkLost();
    return false;
  }
  // No change waiting. That acknowledges the change applied last only when it was
  // delivered on this very connection: one delivered on a connection that closed comes
  // again, after any number of refusals on the new one, and must still be known then. So
  // the change applied last is remembered until the host delivers another.
  if (reply.outcome == hostlink::ExchangeReply::Outcome::kRefused) {
    state.Coda_Host_Vuota = program.clock->Monotonic();
    return false;
  }
  std::string data(rt_.socket.MessageData());
  if (pending.last_applied && SameChangeAsRead(*pending.last_applied, data)) {
    // The host delivers again the change applied last: its acknowledgement was lost with
    // a connection. The next S request acknowledges it; it is not applied twice.
    return true;
  }
  KillPoint("change-received");
  pending.last_applied.reset();
  pending.held = HeldChange{std::move(data), NowText(program), "", 0};
  if (!pending_.Save()) return false;
  KillPoint("change-held");
  return ApplyHeld(start);
}

bool HostToSql::ApplyHeld(double start) {
  Program& program = rt_.program;
  PendingState& pending = pending_.state();
  HeldChange& held = *pending.held;
  HostChange change;
  Status decoded = DecodeChange(rt_.socket.tables(), held.data, &change);
  int64_t idx = 0;
  Failure failure;
  bool applied = false;
  if (!decoded.ok()) {
    failure.reason = decoded.message();
  } else {
    applied = Apply(held.data, change, &idx, &failure);
  }
  if (!applied) {
    if (!rt_.socket.connected(kSlot)) LinkLost();
    // The connection's own errors in full the first time; one line a call after that.
    if (held.attempts == 0 && failure.database > 0) {
      Errori_SQL(program, rt_.connessioni, failure.database);
    } else if (failure.database > 0) {
      if (sql::Connection* c = rt_.connessioni.at(failure.database)) c->ClearErrors();
    }
    ++held.attempts;
    held.last_error = failure.reason;
    (void)pending_.Save();
    program.Scrivi_Messaggio("[Server_SQL_Sincro] Modifica trattenuta: " + change.library + "/" +
                             change.file + " codice " + std::string(1, change.code) + " RRN " +
                             std::to_string(change.rrn) + ": " + failure.reason);
    return false;
  }

  KillPoint("change-applied");
  pending.last_applied = std::move(held.data);
  pending.held.reset();
  (void)pending_.Save();  // a state left unwritten is written before anything moves on

  Statistics& stats = program.stats;
  Statistiche_AddRecord(stats, kRecordsReceived, kSecondsReceiving, start,
                        platform::SecondsSinceMidnight(program.Now()));
  stats.Stat_Testi[kLibraryReceived] = change.library;
  stats.Stat_Testi[kFileReceived] = change.file;
  program.Scrivi_Messaggio(HostChangeLogLine(change, idx));
  return true;
}

bool HostToSql::Apply(std::string_view data, const HostChange& change, int64_t* idx,
                      Failure* failure) {
  *idx = 0;
  const Catalogue& catalogue = rt_.catalogue;
  int n = 0;
  for (int k = 1; k <= catalogue.N_File && k < int(catalogue.Tab_File.size()); ++k) {
    const FileEntry& f = catalogue.Tab_File[size_t(k)];
    if (f.File == change.file && f.Libreria == change.library && f.As_Pc) {
      n = k;
      break;
    }
  }
  if (n == 0) return true;  // not replicated to SQL: consumed, counted and logged

  // Copies: the catalogue may be rebuilt while events run (rebuilding a cleared file).
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
  if (connection == nullptr || !connection->IsOpen()) {
    failure->reason = "nessun database collegato per " + file.DataBase;
    return false;
  }
  if (change.code == hostlink::change_record::kCleared) return RebuildCleared(n, file, failure);
  if (change.code != '1' && change.code != '2' && change.code != '3') return true;

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
  const bool archive = file.File == hostlink::image_archive::kFileName;
  const std::string folder = size_t(file.Indice_DB) < catalogue.Tab_Cartelle_DB.size()
                                 ? catalogue.Tab_Cartelle_DB[size_t(file.Indice_DB)]
                                 : std::string();
  // The statements: [UPDATE ... 'D'], DELETE, [INSERT]. The archive's image files go
  // with the DELETE and come back with the INSERT.
  const size_t delete_at = file.Pc_As ? 1 : 0;
  for (size_t k = 0; k < plan.statements.size(); ++k) {
    s = connection->Execute(plan.statements[k]);
    if (!s.ok()) {
      failure->reason =
          connection->Errors().empty() ? s.message() : connection->Errors().front().description;
      failure->database = file.Indice_DB;
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
  return true;
}

bool HostToSql::SetAsideUnsent(const FileEntry& file, Failure* failure) {
  Program& program = rt_.program;
  sql::Connection* c = rt_.connessioni.at(file.Indice_DB);
  std::unique_ptr<sql::Recordset> rs;
  if (c == nullptr ||
      !c->OpenRecordset("SELECT * FROM " + BracketName(file.File + "___"), &rs).ok()) {
    // No event table (it is not built yet): nothing waits to be sent.
    if (c != nullptr) c->ClearErrors();
    return true;
  }
  std::string record;
  int64_t count = 0;
  const platform::LocalDateTime t = program.Now();
  char when[32];
  std::snprintf(when, sizeof when, "%02d/%02d/%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour,
                t.minute, t.second);
  for (; !rs->Eof(); (void)rs->MoveNext(), ++count) {
    record += "Accantonata il " + std::string(when) + ", non inviata: " + file.Libreria + "/" +
              file.File + " svuotato sul sistema origine\r\n ";
    for (int i = 0; i < rs->FieldCount(); ++i) {
      record += " " + rs->FieldName(i) + "=" + rs->Value(i).text;
    }
    record += "\r\n";
  }
  rs.reset();
  if (count == 0) return true;
  Status s = platform::AppendToFile(program.paths.set_aside_log, Cp1252ToUtf8(record));
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
  // Changes made on the SQL side and not yet sent would go with the event table: they are
  // kept in the set-aside file first, where the operator finds them.
  if (file.Pc_As && !SetAsideUnsent(file, failure)) return false;
  Schema schema{rt_.program, rt_.catalogue, rt_.connessioni, confirmations_};
  Cancella_File(schema, Owner::kMainWindow, n, true);
  Crea_File(schema, n);
  if (Conta_Record(schema, file.Indice_DB, file.File).absent()) {
    failure->reason = "la tabella " + file.DataBase + "/" + file.File + " non si ricrea";
    failure->database = file.Indice_DB;
    return false;
  }
  return true;
}

}  // namespace torvan
