#include "replication/testing/mirror_compare.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <set>

#include "config/settings.h"
#include "core/text.h"
#include "hostlink/field.h"
#include "links/sql_control.h"
#include "platform/clock.h"
#include "platform/event_pump.h"
#include "replication/testing/host_process.h"

namespace torvan::testing {

namespace {

bool ParseWhole(std::string_view t, int64_t* value) {
  const std::string s = Trim(t);
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), *value);
  return !s.empty() && error == std::errc() && end == s.data() + s.size();
}

std::string Show(std::string_view v) { return "\"" + std::string(v) + "\""; }

std::vector<std::string> Split(const std::string& s, char separator) {
  std::vector<std::string> parts;
  for (size_t at = 0;;) {
    const size_t end = s.find(separator, at);
    parts.push_back(s.substr(at, end == std::string::npos ? end : end - at));
    if (end == std::string::npos) return parts;
    at = end + 1;
  }
}

}  // namespace

std::string CanonicalNumber(std::string_view text, int32_t scale) {
  std::string t = Trim(text);
  bool negative = false;
  if (!t.empty() && (t[0] == '-' || t[0] == '+')) {
    negative = t[0] == '-';
    t.erase(0, 1);
  }
  const size_t dot = t.find('.');
  std::string whole = t.substr(0, dot);
  std::string fraction = dot == std::string::npos ? "" : t.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return "";
  for (const std::string* part : {&whole, &fraction}) {
    if (part->find_first_not_of("0123456789") != std::string::npos) return "";
  }
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
  if (whole.empty()) whole = "0";
  while (int32_t(fraction.size()) > scale) {
    if (fraction.back() != '0') return "";
    fraction.pop_back();
  }
  fraction.resize(size_t(std::max(scale, 0)), '0');
  const bool zero = whole == "0" && fraction.find_first_not_of('0') == std::string::npos;
  return (negative && !zero ? "-" : "") + whole + (fraction.empty() ? "" : "." + fraction);
}

Status ParseHostDump(std::string_view dump_utf8, std::vector<HostRecord>* records) {
  records->clear();
  for (const std::string& line : Split(Utf8ToCp1252(dump_utf8), '\n')) {
    if (line.empty()) continue;
    const std::vector<std::string> pairs = Split(line, '\t');
    int64_t rrn = 0;
    if (!ParseWhole(pairs[0], &rrn) || rrn <= 0 || rrn > INT32_MAX) {
      return Status::InvalidArgument("not a record of a dump: " + line);
    }
    HostRecord r{int32_t(rrn), {}};
    for (size_t i = 1; i < pairs.size(); ++i) {
      const size_t eq = pairs[i].find('=');
      if (eq == std::string::npos) return Status::InvalidArgument("not FIELD=value: " + pairs[i]);
      r.values[pairs[i].substr(0, eq)] = pairs[i].substr(eq + 1);
    }
    records->push_back(std::move(r));
  }
  return Status::Ok();
}

Status ReadMirror(sql::Connection& connection, const std::string& table,
                  std::vector<MirrorRow>* rows) {
  rows->clear();
  std::unique_ptr<sql::Recordset> rs;
  Status s = connection.OpenRecordset("SELECT * FROM [" + table + "]", &rs);
  if (!s.ok()) {
    return Status::IoError(
        "SELECT * FROM [" + table + "]: " +
        (connection.Errors().empty() ? s.message() : connection.Errors().front().description));
  }
  while (!rs->Eof()) {
    MirrorRow row;
    for (int i = 0; i < rs->FieldCount(); ++i) {
      const std::string& name = rs->FieldName(i);
      const sql::Field& v = rs->Value(i);
      if (name == "_T_RRN___") {
        if (!ParseWhole(v.text, &row.rrn)) return Status::Fault("_T_RRN___ " + Show(v.text));
      } else if (name == "_T_IDX___") {
        if (!ParseWhole(v.text, &row.idx)) return Status::Fault("_T_IDX___ " + Show(v.text));
      } else if (name == "_T_TIPO___") {
        row.tipo = v.text;
      } else {
        row.values[name] = v.is_null ? "NULL" : v.text;
      }
    }
    rows->push_back(std::move(row));
    s = rs->MoveNext();
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

std::vector<std::string> CompareMirror(const FileEntry& file, const std::vector<CampoEntry>& fields,
                                       const std::vector<HostRecord>& host,
                                       const std::vector<MirrorRow>& mirror) {
  std::vector<std::string> out;
  const std::string name = file.Libreria + "/" + file.File;
  auto host_idx = [&](const HostRecord& r) -> int64_t {
    auto it = r.values.find(kCampoIdx);
    int64_t v = 0;
    return it != r.values.end() && ParseWhole(it->second, &v) ? v : 0;
  };

  // Which host record each row stands for, and how many rows stand for each record.
  std::map<int32_t, const HostRecord*> by_rrn;
  std::map<int64_t, std::vector<const HostRecord*>> by_idx;
  for (const HostRecord& r : host) {
    by_rrn[r.rrn] = &r;
    if (file.Pc_As && host_idx(r) != 0) by_idx[host_idx(r)].push_back(&r);
  }
  std::map<int32_t, int> rows_for;
  for (const MirrorRow& row : mirror) {
    const std::string which = name + " row RRN " + std::to_string(row.rrn) +
                              (file.Pc_As ? " IDX " + std::to_string(row.idx) : std::string());
    const HostRecord* record = nullptr;
    if (row.rrn != 0) {
      auto it = by_rrn.find(int32_t(row.rrn));
      if (it == by_rrn.end()) {
        out.push_back(which + ": no host record with this RRN");
        continue;
      }
      record = it->second;
    } else {
      auto it = file.Pc_As ? by_idx.find(row.idx) : by_idx.end();
      if (it == by_idx.end()) {
        out.push_back(which + ": no host record with \xA7_T_IDX___=" + std::to_string(row.idx));
        continue;
      }
      if (it->second.size() > 1) {
        std::string rrns;
        for (const HostRecord* r : it->second) rrns += " " + std::to_string(r->rrn);
        out.push_back(which + ": " + std::to_string(it->second.size()) +
                      " host records with \xA7_T_IDX___=" + std::to_string(row.idx) + " (RRN" +
                      rrns + ")");
      }
      record = it->second.front();
    }
    ++rows_for[record->rrn];
    for (const CampoEntry& f : fields) {
      if (f.Nome == kCampoIdx) continue;
      auto h = record->values.find(f.Nome);
      auto m = row.values.find(f.Nome);
      if (h == record->values.end() || m == row.values.end()) {
        out.push_back(which + ": field " + f.Nome + " missing from the " +
                      (h == record->values.end() ? "host" : "table"));
        continue;
      }
      bool same;
      if (hostlink::IsTextField(f.Tipo)) {
        // Texts written on the SQL side keep the blanks their writer gave them.
        same = file.Pc_As ? TrimRight(m->second) == h->second && m->second.size() <= size_t(f.Byte)
                          : m->second == PadRight(h->second, size_t(f.Byte));
      } else {
        const std::string a = CanonicalNumber(h->second, f.Decimali);
        same = !a.empty() && a == CanonicalNumber(m->second, f.Decimali);
      }
      if (!same) {
        out.push_back(which + ": field " + f.Nome + " host " + Show(h->second) + " table " +
                      Show(m->second));
      }
    }
  }
  for (const HostRecord& r : host) {
    const int n = rows_for[r.rrn];
    if (n == 0) {
      out.push_back(name + " record RRN " + std::to_string(r.rrn) + ": missing from the table");
    } else if (n > 1) {
      out.push_back(name + " record RRN " + std::to_string(r.rrn) + ": " + std::to_string(n) +
                    " rows in the table");
    }
  }
  return out;
}

Status UnsentEvents(sql::Connection& connection, int64_t* count) {
  *count = 0;
  std::vector<std::string> tables;
  Status s = connection.ListTables(&tables);
  if (!s.ok()) return s;
  if (std::find(tables.begin(), tables.end(), "_T_MASTER___") == tables.end()) return s;
  std::unique_ptr<sql::Recordset> rs;
  s = connection.OpenRecordset("SELECT COUNT(*) FROM [_T_MASTER___]", &rs);
  if (!s.ok()) return s;
  if (rs->Eof() || !ParseWhole(rs->Value(0).text, count)) {
    return Status::Fault("COUNT(*) of _T_MASTER___ unreadable");
  }
  return Status::Ok();
}

namespace {

// The included fields of file n in catalogue order.
std::vector<CampoEntry> FieldsOf(const Catalogue& c, int n) {
  const FileEntry& f = c.Tab_File[size_t(n)];
  std::vector<CampoEntry> fields;
  for (int32_t k = f.Primo_Campo; k >= 1 && k <= f.Ultimo_Campo && k < int32_t(c.Tab_Campi.size());
       ++k) {
    fields.push_back(c.Tab_Campi[size_t(k)]);
  }
  return fields;
}

// The database as Torvan opens it: its record of TnC_DB.DAT under the folder's settings
// (the embedded engine's file when the record is missing).
Status OpenDatabase(const Program& program, const std::string& name,
                    std::unique_ptr<sql::Connection>* c) {
  sql::ConnectionParams params;
  params.database = name;
  params.base_folder = program.paths.base;
  std::vector<DataBase_Rec> records;
  (void)ReadDataBaseRecs(program.paths.database_catalogue, &records);
  for (const DataBase_Rec& r : records) {
    std::string engine;
    if (Trim(r.Nome_DB) == Trim(name) && !ParamsForDatabase(program, r, &params, &engine)) {
      return Status::InvalidArgument(name + ": unknown engine " + engine);
    }
  }
  *c = sql::NewConnection(params);
  const Status s = (*c)->Open();
  return s.ok() ? s : Status::IoError(name + ": " + s.message());
}

}  // namespace

Status CompareFolder(const std::string& torvan_dir, const HostProcess& host,
                     const std::vector<std::string>& only, std::vector<std::string>* differences) {
  differences->clear();
  Program program(Paths::InFolder(torvan_dir), platform::SystemClock(), platform::ConsolePump());
  Leggi_Parametri(program);
  Catalogue catalogue;
  Carica_Catalogo(program, catalogue);
  if (catalogue.N_File == 0) return Status::NotFound("no catalogue in " + torvan_dir);
  std::map<std::string, std::unique_ptr<sql::Connection>> databases;
  std::set<std::string> sent_back;
  for (int n = 1; n <= catalogue.N_File; ++n) {
    const FileEntry& f = catalogue.Tab_File[size_t(n)];
    const std::string name = f.Libreria + "/" + f.File;
    if (!f.As_Pc || (!only.empty() && std::find(only.begin(), only.end(), name) == only.end())) {
      continue;
    }
    std::unique_ptr<sql::Connection>& c = databases[f.DataBase];
    Status s = c ? Status::Ok() : OpenDatabase(program, f.DataBase, &c);
    if (!s.ok()) return s;
    if (f.Pc_As) sent_back.insert(f.DataBase);
    ProcessResult dump = host.Ctl({"dump", Cp1252ToUtf8(name)});
    if (dump.exit_code != 0) return Status::IoError("dump of " + name + ": " + dump.err);
    std::vector<HostRecord> records;
    s = ParseHostDump(dump.out, &records);
    std::vector<MirrorRow> rows;
    if (s.ok()) s = ReadMirror(*c, f.File, &rows);
    if (!s.ok()) return s;
    const std::vector<std::string> found = CompareMirror(f, FieldsOf(catalogue, n), records, rows);
    differences->insert(differences->end(), found.begin(), found.end());
  }
  for (const std::string& db : sent_back) {
    int64_t unsent = 0;
    Status s = UnsentEvents(*databases[db], &unsent);
    if (!s.ok()) return s;
    if (unsent != 0) {
      differences->push_back(db + ": " + std::to_string(unsent) + " events not sent back");
    }
  }
  return Status::Ok();
}

}  // namespace torvan::testing
