// The T-SQL row statements Torvan sends and what the SQLite dialect makes of them.

#include "sql/sqlite_dialect.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>

#include "sql/decimal.h"
#include "sql/tsql_lexer.h"

namespace torvan::sql {
namespace {

TEST(Lexer, SplitsTorvansTextsAndRefusesWhatItCannot) {
  std::vector<Token> t;
  ASSERT_TRUE(Tokenize("INSERT INTO [CLI]]X] ([A]) VALUES(N'O''B ',-0001234.50 ,+.5,@V)", &t).ok());
  using K = TokenKind;
  const std::map<K, char> kind = {{K::kWord, 'W'},   {K::kIdentifier, 'I'}, {K::kString, 'S'},
                                  {K::kNumber, 'N'}, {K::kVariable, 'V'},   {K::kPunct, 'P'}};
  std::string got;
  for (const Token& k : t) got += kind.at(k.kind) + (":" + k.text) + " ";
  EXPECT_EQ(got,
            "W:INSERT W:INTO I:CLI]X P:( I:A P:) W:VALUES P:( S:O'B  P:, N:-0001234.50 P:, N:+.5 "
            "P:, V:@V P:) ");
  for (const char* bad :
       {"SELECT 'open", "SELECT [open", "SELECT /* open", "SELECT ?", "SELECT 12abc", "SELECT @"}) {
    EXPECT_FALSE(Tokenize(bad, &t).ok()) << bad;
  }
  ASSERT_TRUE(Tokenize("DELETE FROM [A] -- comment\n;", &t).ok());
  EXPECT_EQ(t.size(), 3u);
  // Statements differing only in their values share a shape.
  auto shape = [](const char* text) {
    std::vector<Token> t;
    std::vector<const Token*> literals;
    EXPECT_TRUE(Tokenize(text, &t).ok());
    return StatementShape(t, &literals);
  };
  EXPECT_EQ(shape("DELETE FROM [A] WHERE [_T_RRN___]=15"),
            shape("DELETE FROM [A] WHERE [_T_RRN___]=-7"));
  EXPECT_EQ(shape("UPDATE [A] SET [X]='D'"), shape("UPDATE [A] SET [X]=N'it''s'"));
  for (const char* other : {"DELETE FROM [AB] WHERE [ ]=1", "DELETE FROM [A] WHERE [C]=1"}) {
    EXPECT_NE(shape("DELETE FROM [A] WHERE [B]=1"), shape(other)) << other;
  }
}

// The one table ART, found in any case, as the engines read it from the database.
class FixedSchema : public SchemaSource {
 public:
  Status FindTable(std::string_view name, const TableInfo** table) override {
    std::string key(name);
    for (char& c : key) c = char(std::toupper(static_cast<unsigned char>(c)));
    *table = key == art_.name ? &art_ : nullptr;
    return Status::Ok();
  }
  TableInfo art_{"ART",
                 {{"COD", {ColumnKind::kText, 6, 0, 0}},
                  {"PREZZO", {ColumnKind::kDecimal, 0, 9, 2}},
                  {"_T_RRN___", {ColumnKind::kInteger, 0, 9, 0}},
                  {"_T_IDX___", {ColumnKind::kIdentity, 0, 18, 0}},
                  {"_T_TIPO___", {ColumnKind::kText, 1, 0, 0}}}};
};

// The SQLite text of a statement, or the refusal's description.
std::string Translate(const std::string& tsql) {
  FixedSchema schema;
  Plan plan;
  std::vector<Token> tokens;
  Status s = Tokenize(tsql, &tokens);
  if (!s.ok()) return "lexer: " + s.message();
  SqlError error;
  s = TranslateStatement(tokens, &schema, &plan, &error);
  if (!s.ok()) return "refused " + std::to_string(error.number) + ": " + error.description;
  return plan.statement;
}

TEST(Translation, RowStatementsBecomeParameterized) {
  const char* const cases[][3] = {
      {"mark deleted", "UPDATE [ART] SET [_T_TIPO___]='D' WHERE [_T_IDX___]=57 or [_T_RRN___]=15",
       "UPDATE \"ART\" SET \"_T_TIPO___\"=? WHERE \"_T_IDX___\" = ? OR \"_T_RRN___\" = ?"},
      {"delete", "DELETE FROM [ART] WHERE [_T_RRN___]=15",
       "DELETE FROM \"ART\" WHERE \"_T_RRN___\" = ?"},
      {"insert",
       "INSERT INTO [ART] ([COD],[PREZZO],[_T_RRN___],[_T_TIPO___]) "
       "VALUES('A0001 ',0001234.50 ,15,'S')",
       "INSERT INTO \"ART\" (\"COD\",\"PREZZO\",\"_T_RRN___\",\"_T_TIPO___\") VALUES (?,?,?,?)"},
      {"a table the schema lacks", "SELECT * FROM [_T_MASTER___] ORDER BY [_T_RRN___]",
       "refused 208: Invalid object name '_T_MASTER___'."},
      {"count", "select count(*) from  [art]", "SELECT count(*) FROM \"ART\""},
      {"text comparison", "SELECT [COD] FROM [ART] WHERE NOT ([COD]<>'x' AND [COD] IS NOT NULL)",
       "SELECT \"COD\" FROM \"ART\" WHERE NOT (rtrim(\"COD\") <> rtrim(?) COLLATE NOCASE AND "
       "\"COD\" IS NOT NULL)"},
  };
  for (const auto& [name, tsql, sqlite] : cases) EXPECT_EQ(Translate(tsql), sqlite) << name;
}

// What a numeric column stores for a value, and what a comparison binds.
TEST(BindLiteral, NumbersAreStoredAsSqliteNumbersUnlessADoubleLosesDigits) {
  using K = BoundValue::Kind;
  const struct {
    const char* name;
    ColumnType type;
    ParamUse use;
    const char* literal;
    BoundValue::Kind kind;
    const char* text;  // the bound value written out
  } cases[] = {
      {"a decimal", NumericType(9, 2), ParamUse::kAssign, "-0001234.5 ", K::kReal, "-1234.5"},
      {"a whole decimal", NumericType(9, 2), ParamUse::kAssign, "0000020.00 ", K::kInteger, "20"},
      {"rounded half away", NumericType(9, 2), ParamUse::kAssign, "1.005", K::kReal, "1.01"},
      {"15 digits", NumericType(17, 3), ParamUse::kAssign, " 00999999999999.999 ", K::kReal,
       "999999999999.999"},
      {"17 digits", NumericType(17, 3), ParamUse::kAssign, "-12345678901234.567", K::kBlob,
       "-12345678901234.567"},
      {"a 19-digit whole number", NumericType(19, 0), ParamUse::kAssign, "-9223372036854775808",
       K::kInteger, "-9223372036854775808"},
      {"beyond 64 bits", NumericType(19, 0), ParamUse::kAssign, "9223372036854775808", K::kBlob,
       "9223372036854775808"},
      {"compared, whole", NumericType(9, 2), ParamUse::kCompare, "0012", K::kInteger, "12"},
      {"compared, extra decimals", NumericType(9, 2), ParamUse::kCompare, "1.005", K::kReal,
       "1.005"},
  };
  for (const auto& c : cases) {
    ParamSpec param{c.type, "PREZZO", c.use, 0};
    Token literal{TokenKind::kNumber, c.literal};
    BoundValue value;
    SqlError error;
    ASSERT_TRUE(BindLiteral(param, literal, &value, &error).ok()) << c.name;
    EXPECT_EQ(value.kind, c.kind) << c.name;
    const std::string bound = value.kind == K::kInteger ? std::to_string(value.integer)
                              : value.kind == K::kReal  ? DoubleText(value.real)
                                                        : value.text;
    EXPECT_EQ(bound, c.text) << c.name;
  }
}

}  // namespace
}  // namespace torvan::sql
