#include "hostsim/statement_runner.h"

#include "core/text.h"
#include "hostsim/statement.h"

namespace torvan::hostsim {

namespace {

StatementResult Refused(char status, std::string message) { return {status, std::move(message)}; }

// Writes the statement's values into `record`; the first failure says which status.
StatementResult Assign(const RecordCodec& codec, const HostFile& file, const Statement& st,
                       std::string* record) {
  for (const auto& [name, value] : st.values) {
    const HostField* field = file.FindField(name);
    if (field == nullptr) {
      return Refused(kStatementNoField,
                     Cp1252ToUtf8(file.Name()) + " has no field " + Cp1252ToUtf8(name));
    }
    Status s = codec.PutField(*field, value.text, record);
    if (!s.ok()) return Refused(kStatementBadValue, s.message());
  }
  return {};
}

// The RRNs the WHERE part selects, in ascending order.
StatementResult Targets(const RecordCodec& codec, const HostFile& file, const Statement& st,
                        std::vector<int32_t>* rrns) {
  if (st.where_rrn) {
    if (st.rrn >= 1 && st.rrn <= INT32_MAX && file.records.count(int32_t(st.rrn)) != 0) {
      rrns->push_back(int32_t(st.rrn));
    }
  } else {
    const HostField* field = file.FindField(st.where_field);
    if (field == nullptr) {
      return Refused(kStatementNoField,
                     Cp1252ToUtf8(file.Name()) + " has no field " + Cp1252ToUtf8(st.where_field));
    }
    std::string probe = codec.EmptyRecord(file);
    Status s = codec.PutField(*field, st.where_value.text, &probe);
    if (!s.ok()) return Refused(kStatementBadValue, s.message());
    const std::string_view wanted =
        std::string_view(probe).substr(size_t(field->position - 1), size_t(field->bytes));
    for (const auto& [rrn, record] : file.records) {
      if (std::string_view(record).substr(size_t(field->position - 1), size_t(field->bytes)) ==
          wanted) {
        rrns->push_back(rrn);
      }
    }
  }
  if (rrns->empty()) return Refused(kStatementNoRecord, "no record matches the WHERE clause");
  return {};
}

}  // namespace

StatementResult RunStatement(HostStore* store, std::string_view text) {
  Statement st;
  Status s = ParseStatement(text, &st);
  if (!s.ok()) return Refused(kStatementSyntax, s.message());
  HostFile* file = store->data().FindFile(st.library, st.file);
  if (file == nullptr) {
    return Refused(kStatementNoFile, "no file " + Cp1252ToUtf8(st.library + "/" + st.file));
  }
  const RecordCodec& codec = store->codec();

  if (st.kind == Statement::Kind::kInsert) {
    std::string record = codec.EmptyRecord(*file);
    StatementResult r = Assign(codec, *file, st, &record);
    if (r.status != kStatementDone) return r;
    int32_t rrn = 0;
    s = store->Insert(file, std::move(record), false, &rrn);
    return s.ok() ? StatementResult{} : Refused(kStatementFailed, s.message());
  }

  std::vector<int32_t> rrns;
  StatementResult r = Targets(codec, *file, st, &rrns);
  if (r.status != kStatementDone) return r;
  if (st.kind == Statement::Kind::kDelete) {
    for (int32_t rrn : rrns) {
      s = store->Delete(file, rrn, false);
      if (!s.ok()) return Refused(kStatementFailed, s.message());
    }
    return {};
  }
  // Every new record is built before the first is stored, so a value that does not fit
  // leaves all of them as they were.
  std::vector<std::string> updated;
  for (int32_t rrn : rrns) {
    std::string record = file->records.at(rrn);
    r = Assign(codec, *file, st, &record);
    if (r.status != kStatementDone) return r;
    updated.push_back(std::move(record));
  }
  for (size_t i = 0; i < rrns.size(); ++i) {
    s = store->Update(file, rrns[i], std::move(updated[i]), false);
    if (!s.ok()) return Refused(kStatementFailed, s.message());
  }
  return {};
}

}  // namespace torvan::hostsim
