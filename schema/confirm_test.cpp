// The counts; the box texts are checked where the boxes are shown (operations_test.cpp).
#include "schema/confirm.h"

#include <gtest/gtest.h>

#include "schema/row_count.h"

namespace torvan {
namespace {

TEST(RowCount, CountsAreGroupedByThousands) {
  const std::pair<long long, const char*> grouped[] = {
      {1234, "1.234"}, {999, "999"}, {1000000, "1.000.000"}, {0, "0"}};
  for (const auto& [rows, text] : grouped) EXPECT_EQ(text, FormatRowCount(rows, ".")) << rows;
  EXPECT_EQ("1,234", FormatRowCount(1234, ","));
  EXPECT_EQ("1234567", FormatRowCount(1234567, ""));
  EXPECT_EQ("non esiste", RowCount::Absent().Text("."));
  EXPECT_FALSE(RowCount::Counted(0).has_rows() || RowCount::NoPermission().has_rows());
  EXPECT_TRUE(RowCount::Counted(1).has_rows());
  EXPECT_EQ(0, RowCount::Absent().rows());
}

}  // namespace
}  // namespace torvan
