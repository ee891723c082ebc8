// The SQL statements Torvan sends to the host for the events recorded on the SQL side
// (R requests), byte for byte:
//   "I"  INSERT INTO <library>/<file> (<f1>,<f2>,§_T_IDX___) VALUES('<text>', <number>, <idx>)
//   "U"   UPDATE <library>/<file> a SET <f1>='<text>', <f2>=<number>, §_T_IDX___=<idx> <where>
//   "D"   DELETE FROM <library>/<file> a <where>
// with <where> "WHERE RRN(a)=<rrn>" when the record has a host RRN, else
// "WHERE §_T_IDX___=<idx>". UPDATE and DELETE begin with a blank. Text values lose their
// trailing blanks and have "'" doubled; other values lose blanks at both ends and go as
// their SQL text form (plain decimal with ".", whatever the locale).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "platform/status.h"

namespace torvan {

// The text a numeric host field receives for an SQL value (its text form, as a recordset
// gives it): the value rounded half away from zero to the field's decimals, as SQL
// Server's decimal rounds, in plain decimal ("12.500", "-3", "0.05"). Fails with an
// Italian reason when the text is no number or the host field cannot hold the value: more
// integer digits than its bytes (S: one a byte; P: 2 x bytes - 1) or its declared digits
// leave, or for a B field a value beyond its bytes' range.
Status HostNumberText(const CampoEntry& field, std::string_view sql_value, std::string* text);

// One field of the event row: its host name (trimmed Nome), whether it is text (type "A"),
// and the SQL value's text form.
struct HostValue {
  std::string name;
  bool text = false;
  std::string value;
};

std::string HostWhere(int64_t rrn, int64_t idx);
std::string HostInsertStatement(std::string_view library, std::string_view file,
                                const std::vector<HostValue>& values, int64_t idx);
std::string HostUpdateStatement(std::string_view library, std::string_view file,
                                const std::vector<HostValue>& values, int64_t idx,
                                std::string_view where);
std::string HostDeleteStatement(std::string_view library, std::string_view file,
                                std::string_view where);

}  // namespace torvan
