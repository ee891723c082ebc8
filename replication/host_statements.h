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

namespace torvan {

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
