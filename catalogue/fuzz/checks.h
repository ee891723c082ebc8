// What a field without a layout fault promises, for the catalogue fuzz targets.
#pragma once

#include <cstdlib>
#include <string>

#include "catalogue/catalogue.h"
#include "hostlink/field.h"
#include "hostlink/host_format.h"
#include "platform/fuzz_check.h"

namespace torvan::fuzz {

using platform::fuzz::Check;

// FieldLayoutError found nothing wrong: the field lies within the widest host record and
// the decoder takes it from a record of zero bytes.
inline void CheckSoundField(const CampoEntry& f) {
  constexpr int32_t kRecord = hostlink::change_record::kMaxRecordLength;
  static const std::string zeros(size_t(kRecord), '\0');
  static const hostlink::CharTables tables;
  Check(f.Tipo.size() == 1 && f.Posizione >= 1 && f.Byte >= 1);
  Check(int64_t(f.Posizione) + f.Byte - 1 <= kRecord);
  Check(f.Tipo != "P" || f.Decimali <= 2 * int64_t(f.Byte) - 1);
  const hostlink::FieldText t = hostlink::Field_Decode(tables, zeros, f.Tipo[0], f.Posizione,
                                                       f.Byte, f.Lunghezza, f.Decimali);
  Check(t.ok());
}

}  // namespace torvan::fuzz
