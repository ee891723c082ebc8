#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "core/text.h"
#include "hostlink/char_table.h"
#include "platform/fuzz_check.h"
#include "replication/change_record.h"
#include "replication/fuzz/fuzz_targets.h"
#include "replication/held_change.h"
#include "replication/host_to_sql.h"
#include "schema/columns.h"
#include "schema/statements.h"
#include "sql/sqlite_dialect.h"
#include "sql/tsql_lexer.h"

namespace torvan::fuzz {

namespace {

using platform::fuzz::Check;

const hostlink::CharTables& Tables() {
  static const hostlink::CharTables tables = [] {
    hostlink::CharTables t;
    Check(hostlink::LoadCharTables(TORVAN_CHAR_TABLE, &t).ok());
    return t;
  }();
  return tables;
}

CampoEntry Field(const char* nome, const char* tipo, int32_t posizione, int32_t byte,
                 int32_t lunghezza, int32_t decimali) {
  CampoEntry f = MakeColumn(nome, tipo, byte, lunghezza, decimali);
  f.Posizione = posizione;
  return f;
}

// Two files of the sample host: DATI/CONTATTI, replicated both ways (with the index field
// and an amount), and DATI/ARTICOLI, to SQL only (every numeric form). Their mirror tables
// are what the statements are translated against.
class FixedCatalogue final : public sql::SchemaSource {
 public:
  FixedCatalogue() {
    catalogue.Tab_Campi = {
        CampoEntry{},
        Field("CODCLI", "A", 1, 6, 6, 0),
        Field("DATA", "S", 7, 8, 8, 0),
        Field("NOMINATIVO", "A", 15, 30, 30, 0),
        Field("TELEFONO", "A", 45, 15, 15, 0),
        Field("NOTA", "A", 60, 60, 60, 0),
        Field("ESITO", "A", 120, 1, 1, 0),
        Field("VALORE", "P", 121, 9, 17, 3),
        Field(kCampoIdx, "B", 130, 4, 9, 0),
        Field("CODART", "A", 1, 15, 15, 0),
        Field("DESCR", "A", 16, 50, 50, 0),
        Field("UM", "A", 66, 2, 2, 0),
        Field("PREZZO", "P", 68, 5, 9, 3),
        Field("GIACENZA", "S", 73, 9, 9, 2),
        Field("PESO", "B", 82, 4, 9, 0),
        Field("CATEG", "B", 86, 2, 4, 0),
    };
    FileEntry contatti;
    contatti.Libreria = "DATI";
    contatti.File = "CONTATTI";
    contatti.As_Pc = contatti.Pc_As = true;
    contatti.Primo_Campo = 1;
    contatti.Ultimo_Campo = 8;
    contatti.N_Campi = 8;
    contatti.Campo_IDX = 8;
    contatti.Indice_DB = 1;
    contatti.DataBase = "GESTIONALE";
    FileEntry articoli = contatti;
    articoli.File = "ARTICOLI";
    articoli.Pc_As = false;
    articoli.Primo_Campo = 9;
    articoli.Ultimo_Campo = 15;
    articoli.N_Campi = 7;
    articoli.Campo_IDX = 0;
    catalogue.Tab_File = {FileEntry{}, contatti, articoli};
    catalogue.N_File = 2;
    catalogue.Tab_Cartelle_DB = {"", ""};
    catalogue.N_DB = 1;

    for (int n = 1; n <= catalogue.N_File; ++n) {
      const FileEntry& f = catalogue.Tab_File[size_t(n)];
      std::vector<ColumnDef> data;
      for (int32_t k = f.Primo_Campo; k <= f.Ultimo_Campo; ++k) {
        if (k != f.Campo_IDX) data.push_back(catalogue.Tab_Campi[size_t(k)]);
      }
      sql::TableInfo table;
      table.name = f.File;
      for (const ColumnDef& c : MirrorColumns(data, f.Pc_As)) {
        table.columns.push_back({Cp1252ToUtf8(c.Nome), SqlType(c)});
      }
      mirrors_.push_back(std::move(table));
    }
  }

  Status FindTable(std::string_view name, const sql::TableInfo** table) override {
    *table = nullptr;
    for (const sql::TableInfo& t : mirrors_) {
      if (sql::EqualsIgnoreCase(t.name, name)) *table = &t;
    }
    return Status::Ok();
  }

  Catalogue catalogue;

 private:
  std::vector<sql::TableInfo> mirrors_;
};

// The shape of a statement text (its tokens, every value replaced by a marker).
std::string Shape(const std::string& statement, std::vector<sql::Token>* tokens) {
  Check(sql::Tokenize(statement, tokens).ok());
  std::vector<const sql::Token*> literals;
  return sql::StatementShape(*tokens, &literals);
}

// What the statements must look like whatever the record holds: the values are the only
// part of them that the host's bytes may change.
std::vector<std::string> ExpectedShapes(const FileEntry& file,
                                        const std::vector<CampoEntry>& fields, int index_field,
                                        int64_t idx, char code) {
  std::vector<std::string> texts;
  const std::string where = WhereIdxOrRrn(idx == 0 ? 0 : 1, 1);
  if (file.Pc_As) texts.push_back(MarkRowsDeleted(file.File, where));
  texts.push_back(DeleteRows(file.File, where));
  if (code == '1' || code == '3') {
    std::string insert = "INSERT INTO [" + file.File + "] (";
    std::string values;
    for (int k = 0; k < int(fields.size()); ++k) {
      if (k == index_field) continue;
      insert += fields[size_t(k)].Nome_Sql + ",";
      values += "0,";
    }
    insert += "[_T_RRN___]";
    if (file.Pc_As) insert += ",[_T_TIPO___]";
    insert += ") VALUES(" + values + "1";
    if (file.Pc_As) insert += ",'S'";
    texts.push_back(insert + ")");
  }
  std::vector<std::string> shapes;
  for (const std::string& t : texts) {
    std::vector<sql::Token> tokens;
    shapes.push_back(Shape(t, &tokens));
  }
  return shapes;
}

void CheckStatements(FixedCatalogue& fixed, const std::string& data, const HostChange& change) {
  const Catalogue& c = fixed.catalogue;
  // The file the change names, as the step finds it; any other change is tried on one of
  // the two files anyway, so that every record reaches the statement builder.
  int n = change.rrn % 2 == 0 ? 1 : 2;
  for (int k = 1; k <= c.N_File; ++k) {
    if (c.Tab_File[size_t(k)].File == change.file &&
        c.Tab_File[size_t(k)].Libreria == change.library) {
      n = k;
    }
  }
  const FileEntry& file = c.Tab_File[size_t(n)];
  std::vector<CampoEntry> fields;
  int index_field = -1;
  for (int32_t k = file.Primo_Campo; k <= file.Ultimo_Campo; ++k) {
    if (k == file.Campo_IDX) index_field = int(fields.size());
    fields.push_back(c.Tab_Campi[size_t(k)]);
  }

  ChangeStatements plan;
  plan.idx = -7;
  Status s = BuildChangeStatements(Tables(), data, change, file, fields, index_field, &plan);
  if (!s.ok()) {
    Check(s.code() == Status::Code::kFault && !s.message().empty());
    Check(plan.idx == -7 && plan.statements.empty());
    return;
  }
  Check(index_field >= 0 || plan.idx == 0);
  const std::vector<std::string> shapes =
      ExpectedShapes(file, fields, index_field, plan.idx, change.code);
  Check(plan.statements.size() == shapes.size());
  for (size_t k = 0; k < shapes.size(); ++k) {
    std::vector<sql::Token> tokens;
    Check(Shape(plan.statements[k], &tokens) == shapes[k]);
    // The SQLite engine takes it as SQL Server would: translated against the mirror table,
    // every value converted for its column or refused with the server's error.
    sql::Plan translated;
    sql::SqlError error;
    Check(sql::TranslateStatement(tokens, &fixed, &translated, &error).ok());
    std::vector<const sql::Token*> literals;
    (void)sql::StatementShape(tokens, &literals);
    for (const sql::ParamSpec& param : translated.params) {
      Check(param.literal < literals.size());
      sql::BoundValue value;
      sql::SqlError bind_error;
      if (!sql::BindLiteral(param, *literals[param.literal], &value, &bind_error).ok()) {
        Check(!bind_error.description.empty() && bind_error.number != 0);
      }
    }
  }
}

bool HasControl(std::string_view line) {
  for (char ch : line) {
    const unsigned char u = static_cast<unsigned char>(ch);
    if (u < 32 || u == 127) return true;
  }
  return false;
}

// The held change as `torvan pending` shows it and as it is set aside.
void CheckHeldView(const Catalogue& catalogue, const std::string& data) {
  const std::string when = "05/12/2026 14:05:09";
  const HeldChange held{data, when, "", 0};
  const HeldChangeView view = DescribeHeld(catalogue, Tables(), held);
  const std::vector<std::string> lines = HeldChangeLines(view);
  Check(lines.size() >= 2);
  for (const std::string& line : lines) Check(!HasControl(line));
  const std::string record = SetAsideRecord(view, data, when);
  size_t breaks = 0;
  for (size_t at = record.find("\r\n"); at != std::string::npos; at = record.find("\r\n", at + 2)) {
    ++breaks;
  }
  Check(breaks == lines.size() + 2);
  Check(record.find("  byte: ") != std::string::npos);
}

}  // namespace

int FuzzChangeRecord(const uint8_t* bytes, size_t size) {
  static FixedCatalogue fixed;
  const std::string data(reinterpret_cast<const char*>(bytes), size);

  HostChange change;
  change.rrn = -12345;
  change.file = "INTATTO";
  const Status s = DecodeChange(Tables(), data, &change);
  if (!s.ok()) {
    Check(s.code() == Status::Code::kFault && !s.message().empty());
    Check(change.rrn == -12345 && change.file == "INTATTO");
  } else {
    namespace cr = hostlink::change_record;
    Check(data.size() >= size_t(cr::kHeaderLength));
    for (int32_t base : {change.before_base, change.after_base}) {
      Check(base >= cr::kImageBase && base <= int32_t(data.size()));
    }
    Check(change.file == Trim(change.file) && change.file.size() <= size_t(cr::kFile.len));
    Check(change.library == Trim(change.library) &&
          change.library.size() <= size_t(cr::kLibrary.len));
    Check(change.text14.size() == size_t(cr::kText14.len));
    const uint8_t code_byte = uint8_t(data[size_t(cr::kCode.pos - 1)]);
    Check(change.code ==
          (code_byte == 0 ? hostlink::kNulCharacter : char(Tables().HostToPc(code_byte))));
    const std::string line = HostChangeLogLine(change, 0);
    Check(line.rfind("AS--> " + change.library + "/" + change.file, 0) == 0);
    CheckStatements(fixed, data, change);
  }
  CheckHeldView(fixed.catalogue, data);
  return 0;
}

}  // namespace torvan::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::fuzz::FuzzChangeRecord(data, size);
}
#endif
