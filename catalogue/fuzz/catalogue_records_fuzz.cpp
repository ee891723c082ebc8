#include <string>
#include <string_view>

#include "catalogue/catalogue.h"
#include "catalogue/catalogue_files.h"
#include "catalogue/fuzz/checks.h"
#include "catalogue/fuzz/fuzz_targets.h"

namespace torvan::fuzz {

namespace {

// Every record's bytes come back from its decoded form: no field is lost or moved.
template <class Rec, class Decode>
void CheckRecords(std::string_view bytes, Decode decode) {
  for (size_t at = 0; at + Rec::kLength <= bytes.size(); at += Rec::kLength) {
    const std::string_view record = bytes.substr(at, Rec::kLength);
    Check(EncodeRecord(decode(record)) == record);
  }
  // A short record decodes as an empty one.
  if (bytes.size() % Rec::kLength != 0) {
    const Rec empty = decode(bytes.substr(bytes.size() - bytes.size() % Rec::kLength));
    Check(EncodeRecord(empty) == EncodeRecord(Rec{}));
  }
}

// A field record as the catalogue takes it in.
void CheckField(const Campo_Rec& rec) {
  const CampoEntry e = CatalogueField(rec);
  Check(e.Nome_Sql.size() >= 2 && e.Nome_Sql.front() == '[' && e.Nome_Sql.back() == ']');
  if (FieldLayoutError(e).empty()) CheckSoundField(e);
}

}  // namespace

int FuzzCatalogueRecords(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0]) {
    case 'D':
      CheckRecords<DataBase_Rec>(bytes, DecodeDataBaseRec);
      break;
    case 'F':
      CheckRecords<File_Rec>(bytes, DecodeFileRec);
      break;
    default:
      CheckRecords<Campo_Rec>(bytes, DecodeCampoRec);
      for (size_t at = 0; at + Campo_Rec::kLength <= bytes.size(); at += Campo_Rec::kLength) {
        CheckField(DecodeCampoRec(bytes.substr(at, Campo_Rec::kLength)));
      }
      break;
  }
  return 0;
}

}  // namespace torvan::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::fuzz::FuzzCatalogueRecords(data, size);
}
#endif
