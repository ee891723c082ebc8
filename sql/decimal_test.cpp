#include "sql/decimal.h"

#include <gtest/gtest.h>

namespace torvan::sql {
namespace {

TEST(DecimalText, ConvertsToNumericAsSqlServerDoes) {
  struct Case {
    const char* name;
    const char* text;
    int precision, scale;
    const char* canonical;  // nullptr: refused
    Status::Code refusal = Status::Code::kOk;
  };
  const Case cases[] = {
      {"packed host text", "0001234.50 ", 9, 2, "1234.50"},
      {"amount with sign blank", " 00000000000123.456 ", 17, 3, "123.456"},
      {"negative amount", "-12345678901234.567 ", 17, 3, "-12345678901234.567"},
      {"largest amount", "99999999999999.999", 17, 3, "99999999999999.999"},
      {"key of 13 digits", "9999999999999", 13, 0, "9999999999999"},
      {"scale filled", "1234.5", 9, 2, "1234.50"},
      {"below one", ".5", 9, 2, "0.50"},
      {"negative below one", "-0.5", 9, 2, "-0.50"},
      {"zero", "0", 9, 2, "0.00"},
      {"negative zero", "-000.000", 9, 2, "0.00"},
      {"rounds half up", "2.345", 9, 2, "2.35"},
      {"rounds half away from zero", "-2.345", 9, 2, "-2.35"},
      {"rounds down", "2.3449", 9, 2, "2.34"},
      {"rounds to whole", "12.5", 5, 0, "13"},
      {"carry through nines", "99.995", 5, 2, "100.00"},
      {"plus sign", "+7", 3, 0, "7"},
      {"exponent", "1.5e3", 9, 2, "1500.00"},
      {"negative exponent", "15E-3", 9, 3, "0.015"},
      {"scale equals precision", "0.123", 3, 3, "0.123"},
      {"too many integer digits", "10000000", 9, 2, nullptr, Status::Code::kFault},
      {"rounding overflows", "9999999.995", 9, 2, nullptr, Status::Code::kFault},
      {"no integer digits allowed", "1.0", 3, 3, nullptr, Status::Code::kFault},
      {"letters", "12a", 9, 2, nullptr, Status::Code::kInvalidArgument},
      {"empty", "  ", 9, 2, nullptr, Status::Code::kInvalidArgument},
      {"lone sign", "-", 9, 2, nullptr, Status::Code::kInvalidArgument},
      {"lone point", ".", 9, 2, nullptr, Status::Code::kInvalidArgument},
      {"blank inside", "12 3", 9, 2, nullptr, Status::Code::kInvalidArgument},
      {"two points", "1.2.3", 9, 2, nullptr, Status::Code::kInvalidArgument},
      {"exponent without digits", "1e", 9, 2, nullptr, Status::Code::kInvalidArgument},
      {"huge exponent", "1e999999999", 38, 0, nullptr, Status::Code::kInvalidArgument},
  };
  for (const Case& c : cases) {
    std::string canonical = "unchanged";
    Status s = ToNumeric(c.text, c.precision, c.scale, &canonical);
    if (c.canonical) {
      EXPECT_TRUE(s.ok()) << c.name << ": " << s.ToString();
      EXPECT_EQ(canonical, c.canonical) << c.name;
    } else {
      EXPECT_EQ(s.code(), c.refusal) << c.name;
      EXPECT_EQ(canonical, "unchanged") << c.name;
    }
  }
  std::string out;
  EXPECT_EQ(ToNumeric("x", 9, 2, &out).message(), "Error converting data type varchar to numeric.");
  EXPECT_EQ(ToNumeric("1e10", 9, 2, &out).message(),
            "Arithmetic overflow error converting numeric to data type numeric.");
}

TEST(DecimalText, ShowsStoredValuesWithTheColumnsScaleAndWholeOnesIn64Bits) {
  EXPECT_EQ(NumericDisplayText("1234.5", 2), "1234.50");  // written by another program
  EXPECT_EQ(NumericDisplayText("1.5e+20", 0), "150000000000000000000");  // a REAL's text
  EXPECT_EQ(NumericDisplayText("-.5", 2), "-0.50");                      // SQL Server's drivers
  EXPECT_EQ(NumericDisplayText("42", 3), "42.000");
  EXPECT_EQ(NumericDisplayText("n/a", 2), "n/a");  // not a number: as stored
  EXPECT_EQ(CanonicalToInt64("-999999999999999999"), -999999999999999999);
  EXPECT_EQ(CanonicalToInt64("0"), 0);
  EXPECT_FALSE(CanonicalToInt64("1000000000000000000"));
  EXPECT_FALSE(CanonicalToInt64("1.5"));
  EXPECT_FALSE(CanonicalToInt64(""));
}

}  // namespace
}  // namespace torvan::sql
