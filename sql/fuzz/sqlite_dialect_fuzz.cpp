#include <sqlite3.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/text.h"
#include "platform/fuzz_check.h"
#include "sql/fuzz/fuzz_targets.h"
#include "sql/sqlite_dialect.h"
#include "sql/sqlite_storage.h"
#include "sql/tsql_lexer.h"

namespace torvan::sql::fuzz {

namespace {

using platform::fuzz::Check;

// A mirror table of each kind, an event table and the master table, as Torvan builds them
// (names UTF-8, as stored), in an in-memory database with a few rows each.
class FixedSchema final : public SchemaSource {
 public:
  FixedSchema() {
    tables_ = {
        {"ARTICOLI",
         {{"CODART", NvarcharType(15)},
          {"DESCR", NvarcharType(50)},
          {"UNIT\xC3\x80", NvarcharType(2)},
          {"PREZZO", NumericType(9, 3)},
          {"GIACENZA", NumericType(9, 2)},
          {"PESO", NumericType(9, 0)},
          {"NOTE\"X]", NvarcharType(10)},
          {"_T_RRN___", NumericType(9, 0)}}},
        {"CONTATTI",
         {{"CODCLI", NvarcharType(6)},
          {"DATA", NumericType(8, 0)},
          {"VALORE", NumericType(17, 3)},
          {"GRANDE", NumericType(38, 10)},
          {"_T_RRN___", NumericType(9, 0)},
          {"_T_IDX___", IdentityType(13)},
          {"_T_TIPO___", NvarcharType(1)}}},
        {"CONTATTI___",
         {{"CODCLI", NvarcharType(6)},
          {"VALORE", NumericType(17, 3)},
          {"_T_RRN___", NumericType(9, 0)},
          {"_T_IDX___", NumericType(13, 0)},
          {"_T_TIPO___", NvarcharType(1)},
          {"_T_EVENTO___", NvarcharType(1)},
          {"_T_PROGR___", IdentityType(13)}}},
        {"_T_MASTER___",
         {{"_T_RRN___", IdentityType(13)},
          {"_T_FILE___", NvarcharType(20)},
          {"_T_PROGR___", NumericType(13, 0)}}},
    };
    Check(sqlite3_open(":memory:", &db_) == SQLITE_OK);
    for (const TableInfo& t : tables_) {
      std::string create = "CREATE TABLE " + QuoteIdentifier(t.name) + " (";
      for (size_t i = 0; i < t.columns.size(); ++i) {
        create += (i > 0 ? "," : "") + SqliteColumnDefinition(t.columns[i].name, t.columns[i].type);
      }
      Run(create + ")");
    }
    Run("INSERT INTO \"ARTICOLI\" (\"CODART\",\"PREZZO\",\"GIACENZA\",\"PESO\",\"_T_RRN___\") "
        "VALUES('VIT-M8X30','0.125','15230.00',18,1),('CAF','-18.900','0.50',1000,2)");
    Run("INSERT INTO \"CONTATTI\" (\"CODCLI\",\"VALORE\",\"GRANDE\",\"_T_RRN___\",\"_T_TIPO___\") "
        "VALUES('C00001','12000.000','1.0000000000',1,' '),('C00004','-350.500',"
        "'-12345678901234567890.1234567890',2,'S')");
    Run("INSERT INTO \"CONTATTI___\" (\"CODCLI\",\"_T_IDX___\",\"_T_EVENTO___\") "
        "VALUES('C00001',1,'I')");
    Run("INSERT INTO \"_T_MASTER___\" (\"_T_FILE___\",\"_T_PROGR___\") VALUES('CONTATTI',1)");
  }
  ~FixedSchema() override { sqlite3_close(db_); }

  Status FindTable(std::string_view name, const TableInfo** table) override {
    *table = nullptr;
    for (const TableInfo& t : tables_) {
      if (EqualsIgnoreCase(t.name, name)) *table = &t;
    }
    return Status::Ok();
  }

  void Run(const std::string& sql) {
    Check(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK);
  }
  sqlite3* db() { return db_; }

 private:
  std::vector<TableInfo> tables_;
  sqlite3* db_ = nullptr;
};

// The translation runs in SQLite as it stands: it prepares, takes one value per marker,
// and a value SQL Server would take is one the column's CHECK takes.
void Execute(FixedSchema& schema, const Plan& plan, const std::vector<BoundValue>& values) {
  sqlite3_stmt* stmt = nullptr;
  const std::string utf8 = plan.statement;
  if (sqlite3_prepare_v2(schema.db(), utf8.c_str(), int(utf8.size()), &stmt, nullptr) !=
      SQLITE_OK) {
    // SQLite's own limit on the depth of an expression (a chain of a thousand ORs), which
    // the engine reports as the statement's error; nothing else may keep it from preparing.
    Check(std::string_view(sqlite3_errmsg(schema.db())).rfind("Expression tree is too large", 0) ==
          0);
    sqlite3_finalize(stmt);
    return;
  }
  Check(sqlite3_bind_parameter_count(stmt) == int(plan.params.size()));
  for (size_t i = 0; i < values.size(); ++i) {
    const BoundValue& v = values[i];
    const int at = int(i) + 1;
    switch (v.kind) {
      case BoundValue::Kind::kNull:
        sqlite3_bind_null(stmt, at);
        break;
      case BoundValue::Kind::kInteger:
        sqlite3_bind_int64(stmt, at, v.integer);
        break;
      case BoundValue::Kind::kReal:
        sqlite3_bind_double(stmt, at, v.real);
        break;
      case BoundValue::Kind::kText:
        sqlite3_bind_text(stmt, at, v.text.data(), int(v.text.size()), SQLITE_TRANSIENT);
        break;
      case BoundValue::Kind::kBlob:
        sqlite3_bind_blob(stmt, at, v.text.data(), int(v.text.size()), SQLITE_TRANSIENT);
        break;
    }
  }
  schema.Run("SAVEPOINT fuzz");
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    Check(plan.kind == PlanKind::kQuery);
    Check(sqlite3_column_count(stmt) == int(plan.columns.size()));
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      const unsigned char* text = sqlite3_column_text(stmt, i);
      if (text != nullptr) {
        (void)DisplayText(plan.columns[size_t(i)].type, reinterpret_cast<const char*>(text));
      }
    }
  }
  // NULL given for a column is refused by NOT NULL, as SQL Server refuses it; nothing else.
  Check(rc == SQLITE_DONE || sqlite3_extended_errcode(schema.db()) == SQLITE_CONSTRAINT_NOTNULL);
  sqlite3_finalize(stmt);
  schema.Run("ROLLBACK TO fuzz");
  schema.Run("RELEASE fuzz");
}

}  // namespace

int FuzzSqliteDialect(const uint8_t* data, size_t size) {
  static FixedSchema schema;
  std::vector<Token> tokens;
  if (!Tokenize(std::string_view(reinterpret_cast<const char*>(data), size), &tokens).ok()) {
    return 0;
  }
  Plan plan;
  SqlError error;
  const Status s = TranslateStatement(tokens, &schema, &plan, &error);
  if (!s.ok()) {
    Check(s.code() == Status::Code::kInvalidArgument && s.message() == error.description);
    Check(error.origin == ErrorOrigin::kDialect && error.sql_state.size() == 5);
    return 0;
  }
  std::vector<const Token*> literals;
  (void)StatementShape(tokens, &literals);
  std::vector<BoundValue> values;
  for (const ParamSpec& param : plan.params) {
    Check(param.literal < literals.size());
    BoundValue value;
    SqlError bind_error;
    if (!BindLiteral(param, *literals[param.literal], &value, &bind_error).ok()) {
      Check(!bind_error.description.empty() && bind_error.number != 0);
      return 0;
    }
    values.push_back(std::move(value));
  }
  Execute(schema, plan, values);
  return 0;
}

}  // namespace torvan::sql::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::sql::fuzz::FuzzSqliteDialect(data, size);
}
#endif
