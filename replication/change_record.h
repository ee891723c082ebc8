// The host change record, decoded: what the S reply says about one change of a host file
// (layout in hostlink/host_format.h, namespace change_record).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "hostlink/char_table.h"
#include "platform/status.h"

namespace torvan {

struct HostChange {
  int32_t rrn = 0;            // relative record number in the host file
  std::string file, library;  // trimmed
  char code = ' ';            // '1' added, '2' deleted, '3' updated, '4' cleared
  std::string text14;         // kept with the record, not used
  int32_t before_base = 0;    // image offsets + 58: a field at record position p lies at
  int32_t after_base = 0;     // base + p of the data
};

// Decodes the fixed part of a change record's data. A record too short for it, or an
// image offset that points outside the data, is a fault (Status::Fault, saying which).
Status DecodeChange(const hostlink::CharTables& tables, std::string_view data, HostChange* change);

// Whether two change records' data say the same change as the PC reads them: equal in
// every position but those it does not read (9-16, 56-58) or use (the text at 41-54),
// which a host may fill differently each time it delivers a change.
bool SameChangeAsRead(std::string_view a, std::string_view b);

}  // namespace torvan
