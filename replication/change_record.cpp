#include "replication/change_record.h"

#include "core/text.h"
#include "hostlink/field.h"
#include "hostlink/host_format.h"

namespace torvan {

namespace cr = hostlink::change_record;

Status DecodeChange(const hostlink::CharTables& tables, std::string_view data, HostChange* c) {
  if (data.size() < size_t(cr::kHeaderLength)) {
    return Status::Fault("record di " + std::to_string(data.size()) + " byte: ne servono almeno " +
                         std::to_string(cr::kHeaderLength));
  }
  auto text = [&](hostlink::FieldPos f) {
    return hostlink::Field_Decode(tables, data, 'A', f.pos, f.len, 0, 0);
  };
  auto binary = [&](hostlink::FieldPos f) {
    return hostlink::Field_Decode(tables, data, 'B', f.pos, f.len, 9, 0);
  };
  const hostlink::FieldText rrn = binary(cr::kRrn);
  const hostlink::FieldText before = binary(cr::kBeforeOffset);
  const hostlink::FieldText after = binary(cr::kAfterOffset);
  const hostlink::FieldText file = text(cr::kFile);
  const hostlink::FieldText library = text(cr::kLibrary);
  const hostlink::FieldText code = text(cr::kCode);
  const hostlink::FieldText text14 = text(cr::kText14);
  for (const hostlink::FieldText* f : {&rrn, &before, &after, &file, &library, &code, &text14}) {
    if (!f->ok()) return f->status;
  }
  HostChange out;
  out.rrn = NumericValue(rrn.text);
  out.file = Trim(file.text);
  out.library = Trim(library.text);
  out.code = code.text.empty() ? ' ' : code.text[0];
  out.text14 = text14.text;
  const int32_t before_offset = NumericValue(before.text);
  const int32_t after_offset = NumericValue(after.text);
  const int32_t image_area = int32_t(data.size()) - cr::kImageBase;
  if (before_offset < 0 || after_offset < 0 || before_offset > image_area ||
      after_offset > image_area) {
    return Status::Fault("offset delle immagini fuori dal record (" + before.text + ", " +
                         after.text + " su " + std::to_string(image_area) + " byte)");
  }
  out.before_base = before_offset + cr::kImageBase;
  out.after_base = after_offset + cr::kImageBase;
  *c = std::move(out);
  return Status::Ok();
}

bool SameChangeAsRead(std::string_view a, std::string_view b) {
  namespace cr = hostlink::change_record;
  if (a.size() != b.size()) return false;
  auto free = [](size_t at) {
    const int32_t p = int32_t(at) + 1;
    auto in = [p](hostlink::FieldPos f) { return p >= f.pos && p < f.end(); };
    return in(cr::kUnread1) || in(cr::kText14) || in(cr::kUnread2);
  };
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && !free(i)) return false;
  }
  return true;
}

}  // namespace torvan
