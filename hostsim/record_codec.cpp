#include "hostsim/record_codec.h"

#include <cstdlib>

#include "core/text.h"
#include "hostlink/char_table.h"
#include "hostlink/field.h"

namespace torvan::hostsim {

std::string RecordCodec::ToHost(std::string_view pc) const { return table_->ToHost(pc); }

std::string RecordCodec::ToPc(std::string_view host) const { return table_->ToPc(host); }

std::string RecordCodec::EmptyRecord(const HostFile& file) const {
  std::string record(size_t(file.record_length), char(table_->PcToHost(' ')));
  for (const HostField& f : file.fields) {
    if (f.type == 'A') continue;
    std::string bytes;
    if (hostlink::Field_Encode(*table_, f.type, "0", f.bytes, f.digits, f.decimals, &bytes).ok()) {
      record.replace(size_t(f.position - 1), size_t(f.bytes), bytes);
    }
  }
  return record;
}

Status RecordCodec::PutField(const HostField& field, std::string_view value,
                             std::string* record) const {
  if (field.position < 1 || size_t(field.position - 1 + field.bytes) > record->size()) {
    return Status::InvalidArgument("field " + Cp1252ToUtf8(field.name) +
                                   " lies outside the record");
  }
  if (field.type == 'A') {
    // A character the host code has no byte for would be stored as something else.
    const std::string host = table_->ToHost(value);
    if (table_->ToPc(host) != value) {
      return Status::InvalidArgument(Cp1252ToUtf8(field.name) + ": \"" + Cp1252ToUtf8(value) +
                                     "\" has a character the host code cannot hold");
    }
  }
  if (field.type == 'B') {
    // A binary field of n digits holds what n digits can write, not its bytes' full range.
    std::string digits = Trim(value);
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.erase(0, 1);
    while (digits.size() > 1 && digits[0] == '0') digits.erase(0, 1);
    if (digits.size() > size_t(field.digits)) {
      return Status::InvalidArgument(Cp1252ToUtf8(field.name) + ": \"" + Cp1252ToUtf8(value) +
                                     "\" has more than " + std::to_string(field.digits) +
                                     " digits");
    }
  }
  std::string bytes;
  Status s = hostlink::Field_Encode(*table_, field.type, value, field.bytes, field.digits,
                                    field.decimals, &bytes);
  if (!s.ok()) return Status::InvalidArgument(Cp1252ToUtf8(field.name) + ": " + s.message());
  record->replace(size_t(field.position - 1), size_t(field.bytes), bytes);
  return Status::Ok();
}

Status RecordCodec::GetField(const HostField& field, std::string_view record,
                             std::string* value) const {
  hostlink::FieldText t = hostlink::Field_Decode(*table_, record, field.type, field.position,
                                                 field.bytes, field.digits, field.decimals);
  if (!t.ok()) return t.status;
  *value = std::move(t.text);
  return Status::Ok();
}

Status RecordCodec::PackedNumber(int32_t value, std::string* bytes) const {
  return hostlink::Field_Encode(*table_, 'P', std::to_string(value), 3, 5, 0, bytes);
}

}  // namespace torvan::hostsim
