#include "hostlink/field.h"

#include <gtest/gtest.h>

namespace torvan::hostlink {
namespace {

using namespace std::string_literals;

const CharTables& Italian() {
  static const CharTables tables = [] {
    CharTables t;
    EXPECT_TRUE(LoadCharTables(TORVAN_SHIPPED_CHAR_TABLE, &t).ok());
    return t;
  }();
  return tables;
}

// Decoding; more cases, with their bytes, are checked by decoding back what FieldEncode writes.
TEST(FieldDecode, TurnsHostFormsIntoText) {
  const struct {
    const char* what;
    std::string bytes;  // the whole message; the field starts at position 1
    char type;
    int32_t decimals;
    std::string text;
  } rows[] = {
      {"zoned negative B", "\xF0\xF1\xF2\xF3\xB4", 'S', 2, "-012.34"},
      {"zoned positive C", "\xF0\xF1\xF2\xF3\xC4", 'S', 2, "012.34"},
      {"zoned decimals equal to bytes", "\xF1\xF2", 'S', 2, ".12"},
      {"zoned without decimals", "\xF0\xF4\xF2", 'S', 0, "042"},
      {"zoned half-byte above nine", "\xFA\xF1", 'S', 0, ":1"},
      {"packed negative B", "\x12\x34\x5B", 'P', 2, "-123.45 "},
      {"packed positive C", "\x12\x34\x5C", 'P', 2, "123.45 "},
      {"packed all decimals", "\x12\x3F", 'P', 3, ".123 "},
      {"binary lowest", "\x80\x00\x00\x00"s, 'B', 0, "-2147483648"},
      {"binary highest", "\x7F\xFF\xFF\xFF", 'B', 0, "2147483647"},
      {"binary eight bytes small", "\x00\x00\x00\x00\x00\x00\x00\x2A"s, 'B', 0, "42"},
      {"binary eight bytes negative", "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xD6", 'B', 0, "-42"},
      {"binary with decimals", "\x00\x0C"s, 'B', 2, "0.12"},
      {"binary with decimals, negative", "\xFF\xFB", 'B', 3, "-0.005"},
      {"binary with decimals, wide", "\x00\x00\x30\x39"s, 'B', 2, "123.45"},
      {"binary eight bytes highest", "\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 'B', 0,
       "9223372036854775807"},
      {"binary ten bytes, sign repeated", "\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFE", 'B', 0, "-2"},
      {"text NUL byte", "\xC1\x00\xC2"s, 'A', 0, "A\xD8\x42"},  // 42: "B"
      {"text Italian", "\x7C\xC0\xD0\x6A", 'A', 0, "\xA7\xE0\xE8\xF2"},
      {"unknown type", "\xF1", 'X', 0, ""},
  };
  for (const auto& r : rows) {
    FieldText f =
        Field_Decode(Italian(), r.bytes, r.type, 1, int32_t(r.bytes.size()), 9, r.decimals);
    ASSERT_TRUE(f.ok()) << r.what << ": " << f.status.ToString();
    EXPECT_EQ(r.text, f.text) << r.what;
  }
  const std::string message = "\xC1\xC2\xF1\xF2\xC3";  // a field is read at its position only
  EXPECT_EQ("12", Field_Decode(Italian(), message, 'S', 3, 2, 2, 0).text);
  EXPECT_EQ("C", Field_Decode(Italian(), message, 'A', 5, 1, 1, 0).text);
}

TEST(FieldDecode, FaultsInsteadOfReadingGarbage) {
  const struct {
    const char* what;
    std::string bytes;
    char type;
    int32_t start, length, decimals;
  } rows[] = {
      {"packed byte A0", "\x12\xA0\x5F", 'P', 1, 3, 0},
      {"packed byte FF", "\xFF\x5F", 'P', 1, 2, 0},
      {"packed decimals beyond digits", "\x12\x3F", 'P', 1, 2, 4},
      {"binary beyond 64 bits", "\x01\0\0\0\0\0\0\0\0"s, 'B', 1, 9, 0},
      {"binary sign lost", "\x00\x80\0\0\0\0\0\0\0"s, 'B', 1, 9, 0},
      {"binary with more decimals than a column holds", "\x00\x0C"s, 'B', 1, 2, 39},
      {"start zero", "\xC1\xC2", 'A', 0, 1, 0},
      {"past the end", "\xC1\xC2", 'A', 2, 2, 0},
      {"length zero", "\xC1\xC2", 'S', 1, 0, 0},
      {"huge length", "\xC1\xC2", 'A', 2, 2147483647, 0},
      {"huge start", "\xC1\xC2", 'P', 2147483647, 2147483647, 0},
  };
  for (const auto& r : rows) {
    FieldText f = Field_Decode(Italian(), r.bytes, r.type, r.start, r.length, 9, r.decimals);
    EXPECT_EQ(Status::Code::kFault, f.status.code()) << r.what;
    EXPECT_EQ("", f.text) << r.what;
  }
  std::string out = "X=";  // an append leaves the text alone on a fault
  EXPECT_TRUE(Field_DecodeAppend(Italian(), "\x12\x3F", 'P', 1, 2, 3, 0, &out).ok());
  EXPECT_EQ("X=123 ", out);
  EXPECT_FALSE(Field_DecodeAppend(Italian(), "\x12\xA3", 'P', 1, 2, 3, 0, &out).ok());
  EXPECT_EQ("X=123 ", out);
}

TEST(FieldDecodeAmount, TwentyCharactersWithSignPointAndSpace) {
  const std::string positive("\x12\x34\x56\x78\x90\x12\x34\x56\x7F", 9);
  for (const auto& [bytes, start, text] :  // text "": a fault
       {std::tuple{"\x00\x00\x00\x00\x00\x01\x23\x45\x6D"s, 1, "-00000000000123.456 "},
        {positive, 1, " 12345678901234.567 "},
        {"\x00\x00\x00\x00\x00\x00\x00\x01\x0C"s, 1, " 00000000000000.010 "},
        {"\xC1\xC2" + positive, 3, " 12345678901234.567 "},
        {positive, 2, ""},
        {"\xA0" + positive.substr(1), 1, ""},
        {positive, 0, ""}}) {
    const FieldText f = Field_DecodeAmount(bytes, start);
    EXPECT_EQ(text, f.text);
    EXPECT_EQ(*text ? Status::Code::kOk : Status::Code::kFault, f.status.code()) << text;
  }
}

TEST(FieldEncode, WritesHostFormsThatDecodeBack) {
  const struct {
    const char* what;
    char type;
    std::string value;
    int32_t bytes, digits, decimals;
    std::string host;
    std::string decoded;  // what Field_Decode gives back
  } rows[] = {
      {"zoned", 'S', "12.34", 5, 5, 2, "\xF0\xF1\xF2\xF3\xF4", "012.34"},
      {"zoned negative", 'S', "-12.34", 5, 5, 2, "\xF0\xF1\xF2\xF3\xD4", "-012.34"},
      {"zoned decoded text", 'S', "-012.34", 5, 5, 2, "\xF0\xF1\xF2\xF3\xD4", "-012.34"},
      {"zoned short fraction", 'S', "7.5", 4, 4, 2, "\xF0\xF7\xF5\xF0", "07.50"},
      {"zoned trailing zero decimals", 'S', "3.100", 3, 3, 1, "\xF0\xF3\xF1", "03.1"},
      {"zoned negative zero", 'S', "-0", 2, 2, 0, "\xF0\xF0", "00"},
      {"zoned decimals beyond bytes", 'S', "12", 2, 2, 3, "\xF1\xF2", "12"},
      {"packed", 'P', "123.45", 3, 5, 2, "\x12\x34\x5F", "123.45 "},
      {"packed negative", 'P', "-123.45 ", 3, 5, 2, "\x12\x34\x5D", "-123.45 "},
      {"packed zero", 'P', "0", 2, 3, 0, "\x00\x0F"s, "000 "},
      {"packed amount", 'P', "-123.456", 9, 17, 3, "\x00\x00\x00\x00\x00\x01\x23\x45\x6D"s,
       "-00000000000123.456 "},
      {"binary", 'B', "256", 4, 9, 0, "\x00\x00\x01\x00"s, "256"},
      {"binary negative", 'B', "-2", 4, 9, 0, "\xFF\xFF\xFF\xFE", "-2"},
      {"binary short", 'B', "-1", 2, 4, 0, "\xFF\xFF", "-1"},
      {"binary with blanks", 'B', " 42 ", 2, 4, 0, "\x00\x2A"s, "42"},
      {"binary with decimals", 'B', "-1.5", 2, 4, 2, "\xFF\x6A", "-1.50"},
      {"binary bigint", 'B', "-9223372036854775808", 8, 19, 0, "\x80\0\0\0\0\0\0\0"s,
       "-9223372036854775808"},
      {"text padded", 'A', "AB", 4, 4, 0, "\xC1\xC2\x40\x40", "AB  "},
      {"text trailing blanks cut", 'A', "AB   ", 3, 3, 0, "\xC1\xC2\x40", "AB "},
      {"text Italian", 'A', "\xA7\xE8", 2, 2, 0, "\x7C\xD0", "\xA7\xE8"},
  };
  for (const auto& r : rows) {
    std::string host;
    Status s = Field_Encode(Italian(), r.type, r.value, r.bytes, r.digits, r.decimals, &host);
    ASSERT_TRUE(s.ok()) << r.what << ": " << s.ToString();
    EXPECT_EQ(r.host, host) << r.what;
    EXPECT_EQ(r.decoded,
              Field_Decode(Italian(), host, r.type, 1, r.bytes, r.digits, r.decimals).text)
        << r.what;
  }
}

TEST(FieldEncode, RefusesWhatDoesNotFit) {
  const struct {
    const char* what;
    char type;
    std::string value;
    int32_t bytes, digits, decimals;
  } rows[] = {
      {"zoned too many integer digits", 'S', "1234", 3, 3, 0},
      {"zoned lost decimals", 'S', "1.25", 3, 3, 1},
      {"zoned declared digits", 'S', "100", 4, 2, 0},
      {"packed too many digits", 'P', "1234", 2, 3, 0},
      {"packed decimals beyond digits", 'P', "1", 2, 3, 4},
      {"not a number", 'S', "12a", 3, 3, 0},
      {"two points", 'P', "1.2.3", 3, 5, 0},
      {"only a sign", 'S', "-", 3, 3, 0},
      {"empty number", 'P', "", 3, 5, 0},
      {"binary too big for two bytes", 'B', "32768", 2, 4, 0},
      {"binary beyond 64 bits", 'B', "9223372036854775808", 8, 19, 0},
      {"binary huge", 'B', "99999999999999999999999", 8, 18, 0},
      {"binary lost decimals", 'B', "1.5", 4, 9, 0},
      {"binary with decimals too big", 'B', "327.68", 2, 5, 2},
      {"text too long", 'A', "ABCD", 3, 3, 0},
      {"no bytes", 'A', "", 0, 0, 0},
      {"unknown type", 'X', "1", 1, 1, 0},
  };
  for (const auto& r : rows) {
    std::string host = "untouched";
    Status s = Field_Encode(Italian(), r.type, r.value, r.bytes, r.digits, r.decimals, &host);
    EXPECT_EQ(Status::Code::kInvalidArgument, s.code()) << r.what;
    EXPECT_EQ("untouched", host) << r.what;
  }
}

}  // namespace
}  // namespace torvan::hostlink
