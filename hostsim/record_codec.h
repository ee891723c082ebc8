// Host records and PC texts: the one place where torvan-host turns the values of a record
// into host bytes and back. It uses Torvan's own character table and field codec
// (hostlink), so the simulator writes exactly what Torvan reads.
//
// Used by the data-folder reader and writer, the control command, the R statements and the
// catalogue replies. A RecordCodec is cheap to copy; the table it was made with must
// outlive it.
#pragma once

#include <string>
#include <string_view>

#include "hostsim/host_data.h"
#include "platform/status.h"

namespace torvan::hostlink {
class CharTables;
}

namespace torvan::hostsim {

class RecordCodec {
 public:
  explicit RecordCodec(const hostlink::CharTables& table) : table_(&table) {}

  // PC text (Windows-1252) to host bytes, byte by byte through the table, and back.
  std::string ToHost(std::string_view pc) const;
  std::string ToPc(std::string_view host) const;

  // A record of `file` with every field empty: blanks in text fields and between fields,
  // zero in numeric fields.
  std::string EmptyRecord(const HostFile& file) const;

  // Writes `value` into the bytes of `field` within `record` (record_length bytes). Text
  // is padded with blanks; numbers are given as decimal text ("-12.50", "0001234.50 ").
  // A value that does not fit the field (too long, too many digits, not a number, a
  // character the host code cannot hold) is InvalidArgument with a message naming the
  // field, and `record` is left unchanged.
  Status PutField(const HostField& field, std::string_view value, std::string* record) const;

  // The field's value as Torvan decodes it (Field_Decode). A record whose bytes are not a
  // valid value of the field (a packed byte that is not a digit) gives a Fault.
  Status GetField(const HostField& field, std::string_view record, std::string* value) const;

  // The 5-digit packed form (3 bytes) used for the numbers of a field-list entry.
  Status PackedNumber(int32_t value, std::string* bytes) const;

  const hostlink::CharTables& table() const { return *table_; }

 private:
  const hostlink::CharTables* table_;
};

}  // namespace torvan::hostsim
