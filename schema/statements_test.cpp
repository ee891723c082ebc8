// The statement texts, character by character: SQL Server receives exactly these.
#include "schema/statements.h"

#include <gtest/gtest.h>

namespace torvan {
namespace {

std::vector<ColumnDef> ArtData() {
  return {MakeColumn("COD", "A", 6, 6, 0), MakeColumn("PREZZO", "P", 5, 9, 2)};
}

TEST(Statements, MirrorTableOfAFileReplicatedBack) {
  EXPECT_EQ(
      "CREATE TABLE [dbo].[ART] ([COD] [nvarchar] (6) NOT NULL DEFAULT ' ',[PREZZO] "
      "[numeric](9,2) NOT NULL DEFAULT 0 , [_T_RRN___] [numeric](9,0) NOT NULL DEFAULT 0 , "
      "[_T_IDX___] [numeric](13,0) IDENTITY(1, 1) NOT NULL,[_T_TIPO___] [nvarchar] (1) NOT NULL "
      "DEFAULT ' ')",
      CreateTable("ART", MirrorColumns(ArtData(), true)));
}

TEST(Statements, MirrorTableOfAFileNotReplicatedBackKeepsTheLastComma) {
  EXPECT_EQ(
      "CREATE TABLE [dbo].[ART] ([COD] [nvarchar] (6) NOT NULL DEFAULT ' ',[PREZZO] "
      "[numeric](9,2) NOT NULL DEFAULT 0 , [_T_RRN___] [numeric](9,0) NOT NULL DEFAULT 0 ,)",
      CreateTable("ART", MirrorColumns(ArtData(), false)));
}

TEST(Statements, MasterTable) {
  EXPECT_EQ(
      "CREATE TABLE [dbo].[_T_MASTER___] ([_T_RRN___] [numeric](13,0) IDENTITY(1, 1) NOT "
      "NULL,[_T_FILE___] [nvarchar] (20) NOT NULL DEFAULT ' ',[_T_PROGR___] [numeric](13,0) NOT "
      "NULL DEFAULT 0 ,)",
      CreateTable(kMasterTable, MasterColumns()));
  EXPECT_EQ("CREATE INDEX [_T_MASTER____X] ON [dbo].[_T_MASTER___]([_T_RRN___])",
            CreateIndex(kMasterTable));
}

TEST(Statements, EventTable) {
  EXPECT_EQ(
      "CREATE TABLE [dbo].[ART___] ([COD] [nvarchar] (6) NOT NULL DEFAULT ' ',[PREZZO] "
      "[numeric](9,2) NOT NULL DEFAULT 0 , [_T_RRN___] [numeric](9,0) NOT NULL DEFAULT 0 , "
      "[_T_IDX___] [numeric](13,0) NOT NULL DEFAULT 0 , [_T_TIPO___] [nvarchar] (1) NOT NULL "
      "DEFAULT ' ',[_T_EVENTO___] [nvarchar] (1) NOT NULL DEFAULT ' ',[_T_PROGR___] "
      "[numeric](13,0) IDENTITY(1, 1) NOT NULL)",
      CreateTable("ART___", EventColumns(ArtData())));
}

TEST(Statements, DropsAndIndex) {
  EXPECT_EQ(
      "IF EXISTS (SELECT name FROM sysobjects WHERE name = 'ART' AND type = 'U')  DROP TABLE "
      "[ART]",
      DropTableIfExists(" ART "));
  EXPECT_EQ(
      "IF EXISTS (SELECT name FROM sysobjects WHERE name = 'ART____I' AND type = 'TR')  DROP "
      "TRIGGER [ART____I]",
      DropTriggerIfExists("ART___", 'I'));
  EXPECT_EQ(
      "IF EXISTS (SELECT name FROM sysobjects WHERE name = 'ART_D' AND type = 'TR')  DROP "
      "TRIGGER [ART_D]",
      DropTriggerIfExists("ART", 'D'));
  EXPECT_EQ("CREATE INDEX [ART_X] ON [dbo].[ART]([_T_RRN___])", CreateIndex("ART"));
  EXPECT_EQ("select count(*) from  [ART]", CountRows("ART "));
}

TEST(Statements, Triggers) {
  std::string list = TriggerColumnList(MirrorColumns(ArtData(), true));
  EXPECT_EQ("[COD],[PREZZO],[_T_RRN___],", list);
  EXPECT_EQ(
      "CREATE TRIGGER [ART_D] ON [dbo].[ART] AFTER DELETE AS DECLARE @TIPO nvarchar(1) SELECT "
      "@TIPO=[_T_TIPO___] FROM deleted IF @TIPO=' ' INSERT INTO [ART___] "
      "([COD],[PREZZO],[_T_RRN___],[_T_IDX___],[_T_TIPO___],[_T_EVENTO___]) SELECT "
      "[COD],[PREZZO],[_T_RRN___],[_T_IDX___],' ','D' FROM deleted ",
      CreateDeleteTrigger("ART", "ART___", list));
  EXPECT_EQ(
      "CREATE TRIGGER [ART_I] ON [dbo].[ART] AFTER INSERT AS DECLARE @TIPO nvarchar(1), @IDX "
      "numeric(13,0) SELECT @TIPO=[_T_TIPO___], @IDX=[_T_IDX___] FROM inserted IF @TIPO=' ' "
      "INSERT INTO [ART___] ([COD],[PREZZO],[_T_RRN___],[_T_IDX___],[_T_TIPO___],[_T_EVENTO___]) "
      "SELECT [COD],[PREZZO],[_T_RRN___],[_T_IDX___],' ','I' FROM inserted IF @TIPO='S' UPDATE "
      "[ART] SET [_T_TIPO___]='S' WHERE [_T_IDX___]=@IDX ",
      CreateInsertTrigger("ART", "ART___", list));
  EXPECT_EQ(
      "CREATE TRIGGER [ART_U] ON [dbo].[ART] AFTER UPDATE AS DECLARE @TIPO nvarchar(1), @IDX "
      "numeric(13,0) SELECT @TIPO=[_T_TIPO___], @IDX=[_T_IDX___] FROM inserted IF @TIPO='D' "
      "RETURN IF @TIPO='S' BEGIN  UPDATE [ART] SET [_T_TIPO___]=' ' WHERE [_T_IDX___]=@IDX  "
      "RETURN END IF @TIPO=' ' INSERT INTO [ART___] "
      "([COD],[PREZZO],[_T_RRN___],[_T_IDX___],[_T_TIPO___],[_T_EVENTO___]) SELECT "
      "[COD],[PREZZO],[_T_RRN___],[_T_IDX___],' ','U' FROM inserted ",
      CreateUpdateTrigger("ART", "ART___", list));
  EXPECT_EQ(
      "CREATE TRIGGER [ART____I] ON [dbo].[ART___] AFTER INSERT AS INSERT INTO [_T_MASTER___] "
      "([_T_FILE___],[_T_PROGR___]) SELECT 'ART',[_T_PROGR___] FROM inserted ",
      CreateMasterTrigger("ART", "ART___"));
}

TEST(Statements, DataColumnsLeaveOutExcludedFieldsAndTheIndexField) {
  auto field = [](const char* name, const char* tipo, const char* escluso) {
    Campo_Rec c;
    c.Nome = name;
    c.Tipo = tipo;
    c.Byte = 4;
    c.Lunghezza = 7;
    c.Decimali = 1;
    c.Escluso = escluso;
    return c;
  };
  std::vector<ColumnDef> cols = DataColumns(
      {field("A1        ", "A", " "), field("\xA7_T_IDX___", "P", " "), field("X1", "A", "X"),
       field("X2", "A", ""), field("X3", "A", "  "), field("Z9", "Z", " ")});
  ASSERT_EQ(2u, cols.size());
  EXPECT_EQ("[A1]", cols[0].Nome_Sql);
  // A text column takes its length from Byte; any other letter is numeric(Lunghezza,Decimali).
  EXPECT_EQ(
      "CREATE TABLE [dbo].[T] ([A1] [nvarchar] (4) NOT NULL DEFAULT ' ',[Z9] "
      "[numeric](7,1) NOT NULL DEFAULT 0 ,)",
      CreateTable("T", cols));
}

TEST(Statements, ReplicationStatements) {
  EXPECT_EQ("UPDATE [CLIENTI] SET [_T_TIPO___]='D' WHERE [_T_RRN___]=15",
            MarkRowsDeleted("CLIENTI", WhereIdxOrRrn(0, 15)));
  EXPECT_EQ("DELETE FROM [CLIENTI] WHERE [_T_IDX___]=7 or [_T_RRN___]=15",
            DeleteRows("CLIENTI", WhereIdxOrRrn(7, 15)));
  EXPECT_EQ("SELECT * FROM [_T_MASTER___] ORDER BY [_T_RRN___]", SelectMaster());
  EXPECT_EQ("SELECT * FROM [CLIENTI___] WHERE [_T_PROGR___]=3", SelectEvent("CLIENTI", 3));
  EXPECT_EQ("DELETE FROM [CLIENTI___] WHERE [_T_PROGR___]=3", DeleteEvent("CLIENTI", 3));
  EXPECT_EQ("DELETE FROM [_T_MASTER___] WHERE [_T_RRN___]=9", DeleteMaster(9));
}

TEST(Statements, NamesCannotEndAStatementEarly) {
  EXPECT_EQ(
      "IF EXISTS (SELECT name FROM sysobjects WHERE name = 'A''B]' AND type = 'U')  DROP TABLE "
      "[A'B]]]",
      DropTableIfExists("A'B]"));
}

}  // namespace
}  // namespace torvan
