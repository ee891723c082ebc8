// What fuzzing the SQLite dialect found, pinned down: conditions nested without end are
// refused before they take the parser's stack or reach SQLite's depth limit.
#include <gtest/gtest.h>

#include "sql/sqlite_dialect.h"
#include "sql/tsql_lexer.h"

namespace torvan::sql {
namespace {

class OneTable final : public SchemaSource {
 public:
  Status FindTable(std::string_view name, const TableInfo** table) override {
    *table = EqualsIgnoreCase(name, table_.name) ? &table_ : nullptr;
    return Status::Ok();
  }

 private:
  TableInfo table_{"ART", {{"PESO", NumericType(9, 0)}}};
};

Status Translate(const std::string& where, SqlError* error) {
  std::vector<Token> tokens;
  EXPECT_TRUE(Tokenize("SELECT * FROM [ART] WHERE " + where, &tokens).ok());
  OneTable schema;
  Plan plan;
  return TranslateStatement(tokens, &schema, &plan, error);
}

std::string Repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(DialectNesting, SixtyFourLevelsAreTranslatedDeeperIsRefused) {
  const std::string refusal =
      "Statement not supported by the SQLite engine (conditions nested more than 64 deep)";
  struct Row {
    const char* meaning;
    std::string where;
    std::string message;
  };
  const Row rows[] = {
      {"64 NOT", Repeat("NOT ", 64) + "[PESO]=1", ""},
      {"65 NOT", Repeat("NOT ", 65) + "[PESO]=1", refusal},
      {"64 parentheses", Repeat("(", 64) + "[PESO]=1" + Repeat(")", 64), ""},
      {"NOT and parentheses, 65 in all", Repeat("NOT (", 33) + "[PESO]=1" + Repeat(")", 33),
       refusal},
      {"a hundred thousand parentheses", Repeat("(", 100000) + "[PESO]=1" + Repeat(")", 100000),
       refusal},
      {"levels side by side are not nesting",
       Repeat("(NOT [PESO]=1) AND ", 100) + Repeat("(", 64) + "[PESO]=2" + Repeat(")", 64), ""},
  };
  for (const Row& r : rows) {
    SqlError error;
    const Status s = Translate(r.where, &error);
    EXPECT_EQ(r.message, s.message()) << r.meaning;
    if (!r.message.empty()) {
      EXPECT_EQ(0, error.number) << r.meaning;
      EXPECT_EQ(r.message, error.description) << r.meaning;
    }
  }
}

}  // namespace
}  // namespace torvan::sql
