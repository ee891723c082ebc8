// For the sql/ tests and bench/apply: Torvan's T-SQL statement texts, joined fragment by
// fragment exactly as the schema builders join them (double blanks, trailing blanks and the
// comma before the closing parenthesis included), and the column lists of the mirror,
// event and master tables. The tests run these texts through both SQLite paths.
#pragma once

#include <string>
#include <vector>

namespace torvan::sql::testing {

struct Col {
  std::string name;  // without brackets
  char tipo;         // 'A' text, 'x' identity, any other letter numeric
  int byte = 0;
  int lunghezza = 0;
  int decimali = 0;
};

// A value between quotes has its quotes doubled.
inline std::string Q(const std::string& s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

inline std::string DropTable(const std::string& t) {
  return "IF EXISTS (SELECT name FROM sysobjects WHERE name = '" + Q(t) +
         "' AND type = 'U')  DROP TABLE [" + t + "]";
}

inline std::string CreateTable(const std::string& t, const std::vector<Col>& cols) {
  std::string s = "CREATE TABLE [dbo].[" + t + "] (";
  for (const Col& c : cols) {
    s += "[" + c.name + "]";
    if (c.tipo == 'A') {
      s += " [nvarchar] (" + std::to_string(c.byte) + ") NOT NULL DEFAULT ' ',";
    } else if (c.tipo == 'x') {
      s += " [numeric](" + std::to_string(c.lunghezza) + "," + std::to_string(c.decimali) +
           ") IDENTITY(1, 1) NOT NULL,";
    } else {
      s += " [numeric](" + std::to_string(c.lunghezza) + "," + std::to_string(c.decimali) +
           ") NOT NULL DEFAULT 0 , ";
    }
  }
  s.back() = ')';
  return s;
}

inline std::string CreateIndex(const std::string& t) {
  return "CREATE INDEX [" + t + "_X] ON [dbo].[" + t + "]([_T_RRN___])";
}

inline std::string ColumnList(const std::vector<Col>& mirror) {
  std::string s;
  for (size_t i = 0; i + 2 < mirror.size(); ++i) s += "[" + mirror[i].name + "],";
  return s;
}

inline std::string DropTrigger(const std::string& base, char suffix) {
  return "IF EXISTS (SELECT name FROM sysobjects WHERE name = '" + Q(base) + "_" + suffix +
         "' AND type = 'TR')  DROP TRIGGER [" + base + "_" + suffix + "]";
}

inline std::string DeleteTrigger(const std::string& m, const std::string& e, const std::string& l) {
  return "CREATE TRIGGER [" + m + "_D] ON [dbo].[" + m + "] AFTER DELETE AS " +
         "DECLARE @TIPO nvarchar(1) " + "SELECT @TIPO=[_T_TIPO___] FROM deleted " +
         "IF @TIPO=' ' " + "INSERT INTO [" + e + "] (" + l +
         "[_T_IDX___],[_T_TIPO___],[_T_EVENTO___]) SELECT " + l +
         "[_T_IDX___],' ','D' FROM deleted ";
}

inline std::string InsertTrigger(const std::string& m, const std::string& e, const std::string& l) {
  return "CREATE TRIGGER [" + m + "_I] ON [dbo].[" + m + "] AFTER INSERT AS " +
         "DECLARE @TIPO nvarchar(1), @IDX numeric(13,0) " +
         "SELECT @TIPO=[_T_TIPO___], @IDX=[_T_IDX___] FROM inserted " + "IF @TIPO=' ' " +
         "INSERT INTO [" + e + "] (" + l + "[_T_IDX___],[_T_TIPO___],[_T_EVENTO___]) SELECT " + l +
         "[_T_IDX___],' ','I' FROM inserted " + "IF @TIPO='S' " + "UPDATE [" + m +
         "] SET [_T_TIPO___]='S' WHERE [_T_IDX___]=@IDX ";
}

inline std::string UpdateTrigger(const std::string& m, const std::string& e, const std::string& l) {
  return "CREATE TRIGGER [" + m + "_U] ON [dbo].[" + m + "] AFTER UPDATE AS " +
         "DECLARE @TIPO nvarchar(1), @IDX numeric(13,0) " +
         "SELECT @TIPO=[_T_TIPO___], @IDX=[_T_IDX___] FROM inserted " + "IF @TIPO='D' RETURN " +
         "IF @TIPO='S' " + "BEGIN " + " UPDATE [" + m +
         "] SET [_T_TIPO___]=' ' WHERE [_T_IDX___]=@IDX " + " RETURN " + "END " + "IF @TIPO=' ' " +
         "INSERT INTO [" + e + "] (" + l + "[_T_IDX___],[_T_TIPO___],[_T_EVENTO___]) SELECT " + l +
         "[_T_IDX___],' ','U' FROM inserted ";
}

inline std::string MasterTrigger(const std::string& m, const std::string& e) {
  return "CREATE TRIGGER [" + e + "_I] ON [dbo].[" + e + "] AFTER INSERT AS " +
         "INSERT INTO [_T_MASTER___] ([_T_FILE___],[_T_PROGR___]) SELECT '" + Q(m) +
         "',[_T_PROGR___] FROM inserted ";
}

inline std::vector<Col> MirrorColumns(std::vector<Col> data, bool pc_as) {
  data.push_back({"_T_RRN___", 'P', 0, 9, 0});
  if (pc_as) {
    data.push_back({"_T_IDX___", 'x', 0, 13, 0});
    data.push_back({"_T_TIPO___", 'A', 1, 0, 0});
  }
  return data;
}

inline std::vector<Col> EventColumns(std::vector<Col> data) {
  data.push_back({"_T_RRN___", 'P', 0, 9, 0});
  data.push_back({"_T_IDX___", 'P', 0, 13, 0});
  data.push_back({"_T_TIPO___", 'A', 1, 0, 0});
  data.push_back({"_T_EVENTO___", 'A', 1, 0, 0});
  data.push_back({"_T_PROGR___", 'x', 0, 13, 0});
  return data;
}

inline std::vector<Col> MasterColumns() {
  return {
      {"_T_RRN___", 'x', 0, 13, 0}, {"_T_FILE___", 'A', 20, 0, 0}, {"_T_PROGR___", 'P', 0, 13, 0}};
}

// Every statement that builds a file's objects, in the order Torvan sends them: the master
// table when asked, the mirror table and its index, and with pc_as the event table, the
// four trigger drops and the four trigger creates.
inline std::vector<std::string> BuildFile(const std::string& file, const std::vector<Col>& data,
                                          bool pc_as, bool with_master) {
  std::vector<std::string> out;
  if (with_master) {
    out.push_back(DropTable("_T_MASTER___"));
    out.push_back(CreateTable("_T_MASTER___", MasterColumns()));
    out.push_back(CreateIndex("_T_MASTER___"));
  }
  const std::vector<Col> mirror = MirrorColumns(data, pc_as);
  out.push_back(DropTable(file));
  out.push_back(CreateTable(file, mirror));
  out.push_back(CreateIndex(file));
  if (!pc_as) return out;
  const std::string event = file + "___";
  out.push_back(DropTable(event));
  out.push_back(CreateTable(event, EventColumns(data)));
  const std::string list = ColumnList(mirror);
  out.push_back(DropTrigger(file, 'D'));
  out.push_back(DropTrigger(file, 'I'));
  out.push_back(DropTrigger(file, 'U'));
  out.push_back(DropTrigger(event, 'I'));
  out.push_back(DeleteTrigger(file, event, list));
  out.push_back(InsertTrigger(file, event, list));
  out.push_back(UpdateTrigger(file, event, list));
  out.push_back(MasterTrigger(file, event));
  return out;
}

}  // namespace torvan::sql::testing
