// The T-SQL texts Torvan sends and what the SQLite dialect makes of them.

#include "sql/sqlite_dialect.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>

#include "sql/test_statements.h"
#include "sql/tsql_lexer.h"

namespace torvan::sql {
namespace {

using testing::Col;

const std::vector<Col> kArtData = {{"COD", 'A', 6, 0, 0}, {"PREZZO", 'P', 0, 9, 2}};

// The worked texts, character by character: the statement helpers the tests use must
// produce exactly these.
TEST(TorvanTexts, TheWorkedExamplesComeOutExactly) {
  EXPECT_EQ(testing::CreateTable("ART", testing::MirrorColumns(kArtData, true)),
            "CREATE TABLE [dbo].[ART] ([COD] [nvarchar] (6) NOT NULL DEFAULT ' ',[PREZZO] "
            "[numeric](9,2) NOT NULL DEFAULT 0 , [_T_RRN___] [numeric](9,0) NOT NULL DEFAULT 0 , "
            "[_T_IDX___] [numeric](13,0) IDENTITY(1, 1) NOT NULL,[_T_TIPO___] [nvarchar] (1) NOT "
            "NULL DEFAULT ' ')");
  EXPECT_EQ(testing::CreateTable("ART", testing::MirrorColumns(kArtData, false)),
            "CREATE TABLE [dbo].[ART] ([COD] [nvarchar] (6) NOT NULL DEFAULT ' ',[PREZZO] "
            "[numeric](9,2) NOT NULL DEFAULT 0 , [_T_RRN___] [numeric](9,0) NOT NULL DEFAULT 0 ,)");
  EXPECT_EQ(testing::CreateTable("_T_MASTER___", testing::MasterColumns()),
            "CREATE TABLE [dbo].[_T_MASTER___] ([_T_RRN___] [numeric](13,0) IDENTITY(1, 1) NOT "
            "NULL,[_T_FILE___] [nvarchar] (20) NOT NULL DEFAULT ' ',[_T_PROGR___] [numeric](13,0) "
            "NOT NULL DEFAULT 0 ,)");
  EXPECT_EQ(testing::ColumnList(testing::MirrorColumns(kArtData, true)),
            "[COD],[PREZZO],[_T_RRN___],");
  EXPECT_EQ(testing::DropTable("ART"),
            "IF EXISTS (SELECT name FROM sysobjects WHERE name = 'ART' AND type = 'U')  DROP "
            "TABLE [ART]");
  EXPECT_EQ(testing::DropTrigger("ART___", 'I'),
            "IF EXISTS (SELECT name FROM sysobjects WHERE name = 'ART____I' AND type = 'TR')  "
            "DROP TRIGGER [ART____I]");
  EXPECT_EQ(testing::CreateIndex("_T_MASTER___"),
            "CREATE INDEX [_T_MASTER____X] ON [dbo].[_T_MASTER___]([_T_RRN___])");
  EXPECT_EQ(testing::UpdateTrigger("ART", "ART___", "[COD],"),
            "CREATE TRIGGER [ART_U] ON [dbo].[ART] AFTER UPDATE AS DECLARE @TIPO nvarchar(1), "
            "@IDX numeric(13,0) SELECT @TIPO=[_T_TIPO___], @IDX=[_T_IDX___] FROM inserted IF "
            "@TIPO='D' RETURN IF @TIPO='S' BEGIN  UPDATE [ART] SET [_T_TIPO___]=' ' WHERE "
            "[_T_IDX___]=@IDX  RETURN END IF @TIPO=' ' INSERT INTO [ART___] ([COD],[_T_IDX___],"
            "[_T_TIPO___],[_T_EVENTO___]) SELECT [COD],[_T_IDX___],' ','U' FROM inserted ");
  EXPECT_EQ(testing::MasterTrigger("ART", "ART___"),
            "CREATE TRIGGER [ART____I] ON [dbo].[ART___] AFTER INSERT AS INSERT INTO "
            "[_T_MASTER___] ([_T_FILE___],[_T_PROGR___]) SELECT 'ART',[_T_PROGR___] FROM "
            "inserted ");
}

TEST(Lexer, SplitsTorvansTexts) {
  std::vector<Token> t;
  ASSERT_TRUE(Tokenize("INSERT INTO [CLI]]X] ([A]) VALUES(N'O''B ',-0001234.50 ,+.5,@V)", &t).ok());
  std::vector<std::pair<TokenKind, std::string>> got;
  for (const Token& k : t) got.emplace_back(k.kind, k.text);
  using K = TokenKind;
  EXPECT_EQ(got, (std::vector<std::pair<TokenKind, std::string>>{{K::kWord, "INSERT"},
                                                                 {K::kWord, "INTO"},
                                                                 {K::kIdentifier, "CLI]X"},
                                                                 {K::kPunct, "("},
                                                                 {K::kIdentifier, "A"},
                                                                 {K::kPunct, ")"},
                                                                 {K::kWord, "VALUES"},
                                                                 {K::kPunct, "("},
                                                                 {K::kString, "O'B "},
                                                                 {K::kPunct, ","},
                                                                 {K::kNumber, "-0001234.50"},
                                                                 {K::kPunct, ","},
                                                                 {K::kNumber, "+.5"},
                                                                 {K::kPunct, ","},
                                                                 {K::kVariable, "@V"},
                                                                 {K::kPunct, ")"}}));
}

TEST(Lexer, RefusesWhatItCannotSplit) {
  std::vector<Token> t;
  for (const char* bad :
       {"SELECT 'open", "SELECT [open", "SELECT /* open", "SELECT ?", "SELECT 12abc", "SELECT @"}) {
    EXPECT_FALSE(Tokenize(bad, &t).ok()) << bad;
  }
  ASSERT_TRUE(Tokenize("DELETE FROM [A] -- comment\n;", &t).ok());
  EXPECT_EQ(t.size(), 3u);
}

TEST(Lexer, StatementsDifferingOnlyInValuesShareAShape) {
  auto shape = [](const char* text) {
    std::vector<Token> t;
    std::vector<const Token*> literals;
    EXPECT_TRUE(Tokenize(text, &t).ok());
    return StatementShape(t, &literals);
  };
  EXPECT_EQ(shape("DELETE FROM [A] WHERE [_T_RRN___]=15"),
            shape("DELETE FROM [A] WHERE [_T_RRN___]=-7"));
  EXPECT_EQ(shape("UPDATE [A] SET [X]='D'"), shape("UPDATE [A] SET [X]=N'it''s'"));
  EXPECT_NE(shape("DELETE FROM [A] WHERE [B]=1"), shape("DELETE FROM [AB] WHERE [ ]=1"));
  EXPECT_NE(shape("DELETE FROM [A] WHERE [B]=1"), shape("DELETE FROM [A] WHERE [C]=1"));
}

// A schema of fixed tables, as the engines read it from the database.
class FixedSchema : public SchemaSource {
 public:
  void Add(TableInfo t) {
    std::string key = t.name;
    for (char& c : key) c = char(std::tolower(static_cast<unsigned char>(c)));
    tables_[key] = std::move(t);
  }
  Status FindTable(std::string_view name, const TableInfo** table) override {
    std::string key(name);
    for (char& c : key) c = char(std::tolower(static_cast<unsigned char>(c)));
    auto it = tables_.find(key);
    *table = it == tables_.end() ? nullptr : &it->second;
    return Status::Ok();
  }

 private:
  std::map<std::string, TableInfo> tables_;
};

class Translation : public ::testing::Test {
 protected:
  void SetUp() override {
    schema_.Add({"ART",
                 {{"COD", {ColumnKind::kText, 6, 0, 0}},
                  {"PREZZO", {ColumnKind::kDecimal, 0, 9, 2}},
                  {"_T_RRN___", {ColumnKind::kInteger, 0, 9, 0}},
                  {"_T_IDX___", {ColumnKind::kIdentity, 0, 18, 0}},
                  {"_T_TIPO___", {ColumnKind::kText, 1, 0, 0}}}});
  }

  // The SQLite text of a statement, or the refusal's description.
  std::string Translate(const std::string& tsql) {
    std::vector<Token> tokens;
    Status s = Tokenize(tsql, &tokens);
    if (!s.ok()) return "lexer: " + s.message();
    SqlError error;
    s = TranslateStatement(tokens, &schema_, &plan_, &error);
    if (!s.ok()) return "refused " + std::to_string(error.number) + ": " + error.description;
    std::string out;
    for (const std::string& sql : plan_.statements) out += (out.empty() ? "" : "\n") + sql;
    return out;
  }

  FixedSchema schema_;
  Plan plan_;
};

TEST_F(Translation, SchemaStatements) {
  struct Case {
    const char* name;
    std::string tsql;
    std::string sqlite;
  };
  const std::string kMirrorList = "[COD],[PREZZO],[_T_RRN___],";
  const Case cases[] = {
      {"drop table", testing::DropTable("ART"), "DROP TABLE IF EXISTS \"ART\""},
      {"drop trigger", testing::DropTrigger("ART", 'U'), "DROP TRIGGER IF EXISTS \"ART_U\""},
      {"mirror table", testing::CreateTable("ART", testing::MirrorColumns(kArtData, true)),
       "CREATE TABLE \"ART\" (\"COD\" NVARCHAR(6) NOT NULL DEFAULT ' ' CHECK (length(\"COD\") "
       "<= 6), \"PREZZO\" DECIMAL_TEXT(9,2) NOT NULL DEFAULT '0.00', \"_T_RRN___\" "
       "NUMERIC(9,0) NOT NULL DEFAULT 0, \"_T_IDX___\" INTEGER PRIMARY KEY AUTOINCREMENT NOT "
       "NULL, \"_T_TIPO___\" NVARCHAR(1) NOT NULL DEFAULT ' ' CHECK (length(\"_T_TIPO___\") <= "
       "1))"},
      {"wide numeric kept as text",
       testing::CreateTable("W", {{"N", 'P', 0, 19, 0}, {"M", 'S', 0, 31, 5}}),
       "CREATE TABLE \"W\" (\"N\" DECIMAL_TEXT(19,0) NOT NULL DEFAULT '0', \"M\" "
       "DECIMAL_TEXT(31,5) NOT NULL DEFAULT '0.00000')"},
      {"index scoped to its table", testing::CreateIndex("ART"),
       "CREATE INDEX \"ART/ART_X\" ON \"ART\" (\"_T_RRN___\")"},
      {"delete trigger", testing::DeleteTrigger("ART", "ART___", kMirrorList),
       "CREATE TRIGGER \"ART_D\" AFTER DELETE ON \"ART\" FOR EACH ROW BEGIN INSERT INTO "
       "\"ART___\" (\"COD\",\"PREZZO\",\"_T_RRN___\",\"_T_IDX___\",\"_T_TIPO___\","
       "\"_T_EVENTO___\") SELECT OLD.\"COD\",OLD.\"PREZZO\",OLD.\"_T_RRN___\","
       "OLD.\"_T_IDX___\",' ','D' WHERE OLD.\"_T_TIPO___\" IN (' ',''); END"},
      {"insert trigger", testing::InsertTrigger("ART", "ART___", kMirrorList),
       "CREATE TRIGGER \"ART_I\" AFTER INSERT ON \"ART\" FOR EACH ROW BEGIN INSERT INTO "
       "\"ART___\" (\"COD\",\"PREZZO\",\"_T_RRN___\",\"_T_IDX___\",\"_T_TIPO___\","
       "\"_T_EVENTO___\") SELECT NEW.\"COD\",NEW.\"PREZZO\",NEW.\"_T_RRN___\","
       "NEW.\"_T_IDX___\",' ','I' WHERE NEW.\"_T_TIPO___\" IN (' ',''); UPDATE \"ART\" SET "
       "\"_T_TIPO___\"='S' WHERE \"_T_IDX___\"=NEW.\"_T_IDX___\" AND NEW.\"_T_TIPO___\" IN "
       "('S','s'); END"},
      {"update trigger", testing::UpdateTrigger("ART", "ART___", kMirrorList),
       "CREATE TRIGGER \"ART_U\" AFTER UPDATE ON \"ART\" FOR EACH ROW WHEN NEW.\"_T_TIPO___\" "
       "NOT IN ('D','d') BEGIN UPDATE \"ART\" SET \"_T_TIPO___\"=' ' WHERE \"_T_IDX___\"="
       "NEW.\"_T_IDX___\" AND NEW.\"_T_TIPO___\" IN ('S','s'); INSERT INTO \"ART___\" "
       "(\"COD\",\"PREZZO\",\"_T_RRN___\",\"_T_IDX___\",\"_T_TIPO___\",\"_T_EVENTO___\") "
       "SELECT NEW.\"COD\",NEW.\"PREZZO\",NEW.\"_T_RRN___\",NEW.\"_T_IDX___\",' ','U' WHERE "
       "NEW.\"_T_TIPO___\" IN (' ',''); END"},
      {"master trigger", testing::MasterTrigger("O'K", "O'K___"),
       "CREATE TRIGGER \"O'K____I\" AFTER INSERT ON \"O'K___\" FOR EACH ROW BEGIN INSERT INTO "
       "\"_T_MASTER___\" (\"_T_FILE___\",\"_T_PROGR___\") VALUES ('O''K',NEW.\"_T_PROGR___\"); "
       "END"},
  };
  for (const Case& c : cases) EXPECT_EQ(Translate(c.tsql), c.sqlite) << c.name;
}

TEST_F(Translation, RowStatementsBecomeParameterized) {
  struct Case {
    const char* name;
    const char* tsql;
    const char* sqlite;
  };
  const Case cases[] = {
      {"mark deleted", "UPDATE [ART] SET [_T_TIPO___]='D' WHERE [_T_IDX___]=57 or [_T_RRN___]=15",
       "UPDATE \"ART\" SET \"_T_TIPO___\"=? WHERE \"_T_IDX___\" = ? OR \"_T_RRN___\" = ?"},
      {"delete", "DELETE FROM [ART] WHERE [_T_RRN___]=15",
       "DELETE FROM \"ART\" WHERE \"_T_RRN___\" = ?"},
      {"insert",
       "INSERT INTO [ART] ([COD],[PREZZO],[_T_RRN___],[_T_TIPO___]) "
       "VALUES('A0001 ',0001234.50 ,15,'S')",
       "INSERT INTO \"ART\" (\"COD\",\"PREZZO\",\"_T_RRN___\",\"_T_TIPO___\") VALUES (?,?,?,?)"},
      {"master", "SELECT * FROM [_T_MASTER___] ORDER BY [_T_RRN___]", nullptr},
      {"count", "select count(*) from  [art]", "SELECT count(*) FROM \"ART\""},
      {"text comparison", "SELECT [COD] FROM [ART] WHERE NOT ([COD]<>'x' AND [COD] IS NOT NULL)",
       "SELECT \"COD\" FROM \"ART\" WHERE NOT (rtrim(\"COD\") <> rtrim(?) COLLATE NOCASE AND "
       "\"COD\" IS NOT NULL)"},
  };
  for (const Case& c : cases) {
    if (!c.sqlite) continue;
    EXPECT_EQ(Translate(c.tsql), c.sqlite) << c.name;
  }
  EXPECT_EQ(Translate(cases[3].tsql), "refused 208: Invalid object name '_T_MASTER___'.");
}

TEST_F(Translation, ValuesAreConvertedForTheirColumns) {
  const std::string tsql =
      "INSERT INTO [ART] ([COD],[PREZZO],[_T_RRN___]) VALUES('A''1  ',-0001234.5 ,0000015)";
  ASSERT_EQ(Translate(tsql),
            "INSERT INTO \"ART\" (\"COD\",\"PREZZO\",\"_T_RRN___\") VALUES (?,?,?)");
  std::vector<Token> tokens;
  std::vector<const Token*> literals;
  ASSERT_TRUE(Tokenize(tsql, &tokens).ok());
  StatementShape(tokens, &literals);
  ASSERT_EQ(literals.size(), plan_.params.size());
  std::vector<BoundValue> v(literals.size());
  SqlError error;
  for (size_t i = 0; i < literals.size(); ++i) {
    ASSERT_TRUE(BindLiteral(plan_.params[i], *literals[i], &v[i], &error).ok());
  }
  EXPECT_EQ(v[0].kind, BoundValue::Kind::kText);
  EXPECT_EQ(v[0].text, "A'1  ");  // trailing blanks that fit are kept
  EXPECT_EQ(v[1].kind, BoundValue::Kind::kText);
  EXPECT_EQ(v[1].text, "-1234.50");
  EXPECT_EQ(v[2].kind, BoundValue::Kind::kInteger);
  EXPECT_EQ(v[2].integer, 15);
}

TEST_F(Translation, NearMissesOfTorvansTextsAreRefused) {
  const std::string list = "[COD],[PREZZO],[_T_RRN___],";
  std::string other_marker = testing::InsertTrigger("ART", "ART___", list);
  other_marker.replace(other_marker.find("@TIPO='S'"), 9, "@TIPO='X'");
  std::string lists_differ = testing::DeleteTrigger("ART", "ART___", list);
  lists_differ.replace(lists_differ.rfind("[PREZZO],"), 9, "");
  std::string trigger_names_differ = testing::UpdateTrigger("ART", "ART___", list);
  trigger_names_differ.replace(trigger_names_differ.find("[dbo].[ART]"), 11, "[dbo].[CLI]");
  for (const std::string& tsql :
       {other_marker, lists_differ, trigger_names_differ,
        std::string("CREATE TABLE [dbo].[T] ([A] [numeric](9,2) IDENTITY(1, 1) NOT NULL)"),
        std::string("CREATE TABLE [dbo].[T] ([A] [numeric](9,0) IDENTITY(0, 1) NOT NULL)"),
        std::string("CREATE TABLE [other].[T] ([A] [nvarchar] (1))"),
        std::string("CREATE TABLE [dbo].[T] ([A] [nvarchar] (4001))"),
        std::string("CREATE UNIQUE INDEX [ART_X] ON [dbo].[ART]([_T_RRN___])")}) {
    EXPECT_EQ(Translate(tsql).rfind("refused", 0), 0u) << tsql << "\n" << Translate(tsql);
  }
}

}  // namespace
}  // namespace torvan::sql
