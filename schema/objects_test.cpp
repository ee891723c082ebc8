// Each object rendered both ways: the T-SQL texts character by character (SQL Server receives
// exactly these), and the SQLite statements (what the triggers do: sqlite_objects_test.cpp).
#include "schema/objects.h"

#include <gtest/gtest.h>

namespace torvan {
namespace {

std::vector<ColumnDef> ArtData() {
  return {MakeColumn("COD", "A", 6, 6, 0), MakeColumn("PREZZO", "P", 5, 9, 2)};
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& t : texts) out += (out.empty() ? "" : "\n") + t;
  return out;
}

// ---- T-SQL ----------------------------------------------------------------------------

TEST(Tsql, TheWorkedExamples) {
  const std::vector<ColumnDef> mirror = MirrorColumns(ArtData(), true);
  struct Case {
    const char* name;
    SchemaStatement statement;
    const char* text;
  };
  const Case cases[] = {
      {"mirror table of a file sent back", CreateTable("ART", MirrorColumns(ArtData(), true)),
       "CREATE TABLE [dbo].[ART] ([COD] [nvarchar] (6) NOT NULL DEFAULT ' ',[PREZZO] "
       "[numeric](9,2) NOT NULL DEFAULT 0 , [_T_RRN___] [numeric](9,0) NOT NULL DEFAULT 0 , "
       "[_T_IDX___] [numeric](13,0) IDENTITY(1, 1) NOT NULL,[_T_TIPO___] [nvarchar] (1) NOT "
       "NULL DEFAULT ' ')"},
      {"mirror table of a file not sent back keeps the last comma",
       CreateTable("ART", MirrorColumns(ArtData(), false)),
       "CREATE TABLE [dbo].[ART] ([COD] [nvarchar] (6) NOT NULL DEFAULT ' ',[PREZZO] "
       "[numeric](9,2) NOT NULL DEFAULT 0 , [_T_RRN___] [numeric](9,0) NOT NULL DEFAULT 0 ,)"},
      {"master table", CreateTable(kMasterTable, MasterColumns()),
       "CREATE TABLE [dbo].[_T_MASTER___] ([_T_RRN___] [numeric](13,0) IDENTITY(1, 1) NOT "
       "NULL,[_T_FILE___] [nvarchar] (20) NOT NULL DEFAULT ' ',[_T_PROGR___] [numeric](13,0) "
       "NOT NULL DEFAULT 0 ,)"},
      {"event table", CreateTable("ART___", EventColumns(ArtData())),
       "CREATE TABLE [dbo].[ART___] ([COD] [nvarchar] (6) NOT NULL DEFAULT ' ',[PREZZO] "
       "[numeric](9,2) NOT NULL DEFAULT 0 , [_T_RRN___] [numeric](9,0) NOT NULL DEFAULT 0 , "
       "[_T_IDX___] [numeric](13,0) NOT NULL DEFAULT 0 , [_T_TIPO___] [nvarchar] (1) NOT NULL "
       "DEFAULT ' ',[_T_EVENTO___] [nvarchar] (1) NOT NULL DEFAULT ' ',[_T_PROGR___] "
       "[numeric](13,0) IDENTITY(1, 1) NOT NULL)"},
      {"drop of a table, name trimmed", DropTable(" ART "),
       "IF EXISTS (SELECT name FROM sysobjects WHERE name = 'ART' AND type = 'U')  DROP TABLE "
       "[ART]"},
      {"drop of the master trigger", DropTrigger("ART___", 'I'),
       "IF EXISTS (SELECT name FROM sysobjects WHERE name = 'ART____I' AND type = 'TR')  DROP "
       "TRIGGER [ART____I]"},
      {"mirror index", CreateIndex("ART"), "CREATE INDEX [ART_X] ON [dbo].[ART]([_T_RRN___])"},
      {"master index", CreateIndex(kMasterTable),
       "CREATE INDEX [_T_MASTER____X] ON [dbo].[_T_MASTER___]([_T_RRN___])"},
      {"a column is its Nome_Sql", CreateTable("T", {MakeColumn("A]B", "A", 2, 0, 0)}),
       "CREATE TABLE [dbo].[T] ([A]]B] [nvarchar] (2) NOT NULL DEFAULT ' ')"},
      // Any letter but "A" and "x" is numeric; "X" is not an identity.
      {"numeric type letters", CreateTable("T", {MakeColumn("N", "X", 4, 7, 1)}),
       "CREATE TABLE [dbo].[T] ([N] [numeric](7,1) NOT NULL DEFAULT 0 ,)"},
      {"names cannot end a statement early", DropTable("A'B]"),
       "IF EXISTS (SELECT name FROM sysobjects WHERE name = 'A''B]' AND type = 'U')  DROP TABLE "
       "[A'B]]]"},
      {"delete trigger", CreateTrigger(TriggerKind::kDelete, "ART", "ART___", mirror),
       "CREATE TRIGGER [ART_D] ON [dbo].[ART] AFTER DELETE AS DECLARE @TIPO nvarchar(1) SELECT "
       "@TIPO=[_T_TIPO___] FROM deleted IF @TIPO=' ' INSERT INTO [ART___] "
       "([COD],[PREZZO],[_T_RRN___],[_T_IDX___],[_T_TIPO___],[_T_EVENTO___]) SELECT "
       "[COD],[PREZZO],[_T_RRN___],[_T_IDX___],' ','D' FROM deleted "},
      {"insert trigger", CreateTrigger(TriggerKind::kInsert, "ART", "ART___", mirror),
       "CREATE TRIGGER [ART_I] ON [dbo].[ART] AFTER INSERT AS DECLARE @TIPO nvarchar(1), @IDX "
       "numeric(13,0) SELECT @TIPO=[_T_TIPO___], @IDX=[_T_IDX___] FROM inserted IF @TIPO=' ' "
       "INSERT INTO [ART___] ([COD],[PREZZO],[_T_RRN___],[_T_IDX___],[_T_TIPO___],[_T_EVENTO___]) "
       "SELECT [COD],[PREZZO],[_T_RRN___],[_T_IDX___],' ','I' FROM inserted IF @TIPO='S' UPDATE "
       "[ART] SET [_T_TIPO___]='S' WHERE [_T_IDX___]=@IDX "},
      {"update trigger", CreateTrigger(TriggerKind::kUpdate, "ART", "ART___", mirror),
       "CREATE TRIGGER [ART_U] ON [dbo].[ART] AFTER UPDATE AS DECLARE @TIPO nvarchar(1), @IDX "
       "numeric(13,0) SELECT @TIPO=[_T_TIPO___], @IDX=[_T_IDX___] FROM inserted IF @TIPO='D' "
       "RETURN IF @TIPO='S' BEGIN  UPDATE [ART] SET [_T_TIPO___]=' ' WHERE [_T_IDX___]=@IDX  "
       "RETURN END IF @TIPO=' ' INSERT INTO [ART___] "
       "([COD],[PREZZO],[_T_RRN___],[_T_IDX___],[_T_TIPO___],[_T_EVENTO___]) SELECT "
       "[COD],[PREZZO],[_T_RRN___],[_T_IDX___],' ','U' FROM inserted "},
      {"master trigger", CreateTrigger(TriggerKind::kMaster, "ART", "ART___"),
       "CREATE TRIGGER [ART____I] ON [dbo].[ART___] AFTER INSERT AS INSERT INTO [_T_MASTER___] "
       "([_T_FILE___],[_T_PROGR___]) SELECT 'ART',[_T_PROGR___] FROM inserted "},
  };
  for (const Case& c : cases) EXPECT_EQ(c.text, Tsql(c.statement)) << c.name;
}

TEST(Tsql, TheGroupsOfTheLowerRoutines) {
  const std::vector<ColumnDef> mirror = MirrorColumns(ArtData(), true);
  EXPECT_EQ("[COD],[PREZZO],[_T_RRN___],", TriggerColumnList(mirror));
  std::vector<std::string> texts;
  for (const SchemaStatement& s : TableStatements(" ART ", mirror, true)) texts.push_back(Tsql(s));
  EXPECT_EQ(std::vector<std::string>({Tsql(DropTable("ART")), Tsql(CreateTable("ART", mirror)),
                                      Tsql(CreateIndex("ART"))}),
            texts);
  EXPECT_EQ(2u, TableStatements("ART___", mirror, false).size());
  // The four drops, then the four triggers (their order on a real database:
  // sqlite_objects_test.cpp).
  ASSERT_EQ(8u, TriggerStatements("ART", "ART___", mirror).size());
  ASSERT_EQ(2u, MasterTriggerStatements("ART", "ART___").size());
  EXPECT_EQ(Tsql(DropTrigger("ART___", 'I')), Tsql(MasterTriggerStatements("ART", "ART___")[0]));
}

// ---- SQLite ---------------------------------------------------------------------------

TEST(Sqlite, EachObjectRendered) {
  const std::vector<ColumnDef> mirror = MirrorColumns(ArtData(), true);
  struct Case {
    const char* name;
    SchemaStatement statement;
    std::string sqlite;
  };
  auto number_check = [](const std::string& q, int p, int s) {
    return "CONSTRAINT \"" + q + " numeric(" + std::to_string(p) + "," + std::to_string(s) +
           ")\" CHECK ((typeof(\"" + q + "\") IN ('integer','real') AND \"" + q + "\">-1e" +
           std::to_string(p - s) + " AND \"" + q + "\"<1e" + std::to_string(p - s) + ")";
  };
  const Case cases[] = {
      {"drop of a table", DropTable("ART"), "DROP TABLE IF EXISTS \"ART\""},
      {"drop of a trigger", DropTrigger("ART___", 'I'), "DROP TRIGGER IF EXISTS \"ART____I\""},
      {"mirror table", CreateTable("ART", mirror),
       "CREATE TABLE \"ART\" (\"COD\" NVARCHAR(6) NOT NULL DEFAULT ' ' CHECK (length(\"COD\") "
       "<= 6), \"PREZZO\" NUMERIC(9,2) NOT NULL DEFAULT 0 " +
           number_check("PREZZO", 9, 2) + "), \"_T_RRN___\" NUMERIC(9,0) NOT NULL DEFAULT 0 " +
           number_check("_T_RRN___", 9, 0) +
           "), \"_T_IDX___\" INTEGER PRIMARY KEY AUTOINCREMENT NOT NULL, \"_T_TIPO___\" "
           "NVARCHAR(1) NOT NULL DEFAULT ' ' CHECK (length(\"_T_TIPO___\") <= 1))"},
      {"beyond a double's digits the exact text is kept too",
       CreateTable("W", {MakeColumn("I", "P", 0, 17, 3)}),
       "CREATE TABLE \"W\" (\"I\" NUMERIC(17,3) NOT NULL DEFAULT 0 " + number_check("I", 17, 3) +
           " OR (typeof(\"I\")='blob' AND (CAST(\"I\" AS TEXT) GLOB '[0-9]*' OR CAST(\"I\" AS "
           "TEXT) GLOB '-[0-9]*') AND substr(CAST(\"I\" AS TEXT),2) NOT GLOB '*[^0-9.]*' AND "
           "instr(CAST(\"I\" AS TEXT),'.')=length(CAST(\"I\" AS TEXT))-3 AND CAST(\"I\" AS TEXT) "
           "GLOB '*.[0-9][0-9][0-9]' AND NOT (CAST(\"I\" AS TEXT) GLOB '0[0-9]*' OR CAST(\"I\" AS "
           "TEXT) GLOB '-0[0-9]*') AND CAST(\"I\" AS TEXT)<>'-0.000' AND (instr(CAST(\"I\" AS "
           "TEXT),'.')-1-(CAST(\"I\" AS TEXT) GLOB '-*')<=14 OR CAST(\"I\" AS TEXT) GLOB '0.*' OR "
           "CAST(\"I\" AS TEXT) GLOB '-0.*'))))"},
      {"index scoped to its table", CreateIndex("ART"),
       "CREATE INDEX \"ART/ART_X\" ON \"ART\" (\"_T_RRN___\")"},
      {"master trigger with a quote in the name",
       CreateTrigger(TriggerKind::kMaster, "O'K", "O'K___"),
       "CREATE TRIGGER \"O'K____I\" AFTER INSERT ON \"O'K___\" FOR EACH ROW BEGIN INSERT INTO "
       "\"_T_MASTER___\" (\"_T_FILE___\",\"_T_PROGR___\") VALUES ('O''K',NEW.\"_T_PROGR___\"); "
       "END"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.sqlite, Joined(Sqlite(c.statement))) << c.name;
  const SchemaStatement drop = DropTable("ART");
  EXPECT_EQ(std::vector<std::string>{Tsql(drop)}, Render(drop, sql::Dialect::kSqlServer));
  EXPECT_EQ(Sqlite(drop), Render(drop, sql::Dialect::kSqlite));
}

}  // namespace
}  // namespace torvan
