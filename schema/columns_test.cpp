// Which host fields become columns, and which layouts can be built at all.
#include "schema/columns.h"

#include <gtest/gtest.h>

namespace torvan {
namespace {

Campo_Rec Field(const char* name, const char* tipo, const char* escluso) {
  return {name, "", tipo, 7, 1, 0, 4, escluso};
}

TEST(DataColumns, LeaveOutExcludedFieldsAndTheIndexField) {
  std::vector<ColumnDef> cols = DataColumns(
      {Field("A1        ", "A", " "), Field("\xA7_T_IDX___", "P", " "), Field("X1", "A", "X"),
       Field("X2", "A", ""), Field("X3", "A", "  "), Field("Z9", "Z", " ")});
  ASSERT_EQ(2u, cols.size());
  EXPECT_EQ("A1", cols[0].Nome);
  EXPECT_EQ("[A1]", cols[0].Nome_Sql);
  EXPECT_EQ("Z9", cols[1].Nome);
}

TEST(LayoutFault, SaysWhyATableCannotBeBuilt) {
  struct Case {
    const char* name;
    std::vector<ColumnDef> columns;
    const char* fault;  // "" when the table can be built
  };
  auto columns = [](auto... c) { return std::vector<ColumnDef>{c...}; };
  const Case cases[] = {
      {"text and numbers", columns(MakeColumn("C", "A", 1, 0, 0), MakeColumn("N", "P", 0, 38, 38)),
       ""},
      {"longest text", columns(MakeColumn("C", "A", 4000, 0, 0)), ""},
      {"no columns", {}, "nessun campo"},
      {"empty text", columns(MakeColumn("C", "A", 0, 5, 0)),
       "il campo C \xE8 lungo 0 caratteri (da 1 a 4000)"},
      {"text too long", columns(MakeColumn("C", "A", 4001, 0, 0)),
       "il campo C \xE8 lungo 4001 caratteri (da 1 a 4000)"},
      {"no digits", columns(MakeColumn("N", "S", 3, 0, 0)), "il campo N ha 0 cifre (da 1 a 38)"},
      {"too many digits", columns(MakeColumn("N", "P", 20, 39, 2)),
       "il campo N ha 39 cifre (da 1 a 38)"},
      {"decimals above digits", columns(MakeColumn("N", "P", 2, 2, 3)),
       "il campo N ha 3 decimali su 2 cifre"},
      {"negative decimals", columns(MakeColumn("N", "B", 4, 9, -1)),
       "il campo N ha -1 decimali su 9 cifre"},
      {"identity with decimals", columns(MakeColumn("I", "x", 0, 13, 2)),
       "il campo I, un contatore, ha 13 cifre e 2 decimali (da 1 a 18 cifre, nessun decimale)"},
      {"same name twice, any case",
       columns(MakeColumn("Cod", "A", 1, 0, 0), MakeColumn("COD", "A", 1, 0, 0)),
       "il campo COD compare due volte"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.fault, LayoutFault(c.columns)) << c.name;
}

// Host types are A, S, P or B; a host field named like a reserved column is built twice.
TEST(DataLayoutFault, HostTypesAndReservedNames) {
  EXPECT_EQ("", DataLayoutFault({MakeColumn("A", "A", 4, 7, 0), MakeColumn("S", "S", 4, 7, 0),
                                 MakeColumn("P", "P", 4, 7, 0), MakeColumn("B", "B", 4, 7, 0)}));
  for (const char* tipo : {"Z", "x", ""}) {
    EXPECT_EQ("il campo F ha il tipo \"" + std::string(tipo) + "\" (A, S, P o B)",
              DataLayoutFault({MakeColumn("F", tipo, 4, 7, 0)}));
  }
  std::vector<ColumnDef> data = {MakeColumn("_T_RRN___", "P", 5, 9, 0)};
  EXPECT_EQ("", DataLayoutFault(data));
  EXPECT_EQ("il campo _T_RRN___ compare due volte", LayoutFault(MirrorColumns(data, false)));
}

}  // namespace
}  // namespace torvan
