// For replication's tests: host bytes built with the shipped character table, change
// records (the data of an S reply) made of them, laid out as host_format.h says, and the
// catalogued fields that describe them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/text.h"
#include "hostlink/char_table.h"
#include "hostlink/field.h"
#include "hostlink/host_format.h"
#include "schema/columns.h"

namespace torvan::testing {

inline const hostlink::CharTables& Tables() {
  static const hostlink::CharTables tables = [] {
    hostlink::CharTables t;
    Status s = hostlink::LoadCharTables(TORVAN_CHAR_TABLE, &t);
    EXPECT_TRUE(s.ok()) << s.message();
    return t;
  }();
  return tables;
}

// A field in its host form: `value` encoded as `type` in `bytes` bytes.
inline std::string HostField(char type, const std::string& value, int32_t bytes, int32_t digits = 9,
                             int32_t decimals = 0) {
  std::string out;
  Status s = hostlink::Field_Encode(Tables(), type, value, bytes, digits, decimals, &out);
  EXPECT_TRUE(s.ok()) << value << ": " << s.message();
  return out;
}

// PC text in host bytes, padded with blanks to `width` when it is given.
inline std::string HostText(const std::string& pc, size_t width = 0) {
  return Tables().ToHost(width == 0 ? pc : PadRight(pc, width));
}

// A catalogued field of `digits` digits and `decimals` decimals, `bytes` bytes at `pos`.
inline CampoEntry Campo(const std::string& name, const char* tipo, int32_t pos, int32_t bytes,
                        int32_t digits, int32_t decimals = 0) {
  CampoEntry c = MakeColumn(name, tipo, bytes, digits, decimals);
  c.Posizione = pos;
  return c;
}

// The data part of an S reply: the fixed part, then the before and after images.
inline std::string ChangeData(char code, int32_t rrn, const std::string& file,
                              const std::string& library, const std::string& before,
                              const std::string& after) {
  namespace cr = hostlink::change_record;
  std::string d = HostField('B', "0", 4) + HostField('B', std::to_string(before.size()), 4) +
                  HostText("00000001") + HostField('B', std::to_string(rrn), 4) +
                  HostText(file, 10) + HostText(library, 10) + HostText("20240301101500") +
                  HostText(std::string(1, code)) + HostText("   ");
  EXPECT_EQ(size_t(cr::kHeaderLength), d.size());
  return d + before + after;
}

}  // namespace torvan::testing
