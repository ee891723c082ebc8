#include "catalogue/catalogue_files.h"

#include <cstring>

#include "core/text.h"
#include "platform/file.h"

namespace torvan {

namespace {

// One field of a record layout: a text of `length` bytes or a little-endian int32.
template <class Rec>
struct Column {
  size_t offset;
  size_t length;
  std::string Rec::*text;
  int32_t Rec::*number;
};

template <class Rec>
using Layout = std::vector<Column<Rec>>;

const Layout<DataBase_Rec>& DataBaseLayout() {
  using R = DataBase_Rec;
  static const Layout<R> layout = {
      {0, 20, &R::Nome_DB, nullptr},       {20, 20, &R::Server_DB, nullptr},
      {40, 16, &R::Indirizzo_DB, nullptr}, {56, 20, &R::Utente_DB, nullptr},
      {76, 20, &R::Password_DB, nullptr},  {96, 50, &R::Cartella_DB, nullptr},
  };
  return layout;
}

const Layout<File_Rec>& FileLayout() {
  using R = File_Rec;
  static const Layout<R> layout = {
      {0, 10, &R::Libreria, nullptr},  {10, 10, &R::File, nullptr},
      {20, 50, &R::Testo, nullptr},    {70, 10, &R::Libreria_Trigger, nullptr},
      {80, 10, &R::Trigger, nullptr},  {90, 1, &R::As_Pc, nullptr},
      {91, 1, &R::Pc_As, nullptr},     {92, 1, &R::Acq, nullptr},
      {93, 20, &R::DataBase, nullptr}, {113, 10, &R::Libreria_Filtro, nullptr},
      {123, 10, &R::Filtro, nullptr},  {133, 4, nullptr, &R::Indice_DB},
  };
  return layout;
}

const Layout<Campo_Rec>& CampoLayout() {
  using R = Campo_Rec;
  static const Layout<R> layout = {
      {0, 10, &R::Nome, nullptr},     {10, 50, &R::Testo, nullptr},
      {60, 1, &R::Tipo, nullptr},     {61, 4, nullptr, &R::Lunghezza},
      {65, 4, nullptr, &R::Decimali}, {69, 4, nullptr, &R::Posizione},
      {73, 4, nullptr, &R::Byte},     {77, 1, &R::Escluso, nullptr},
  };
  return layout;
}

template <class Rec>
std::string Encode(const Rec& r, const Layout<Rec>& layout) {
  std::string bytes(Rec::kLength, ' ');
  for (const Column<Rec>& c : layout) {
    if (c.text != nullptr) {
      bytes.replace(c.offset, c.length, PadRight(r.*c.text, c.length));
    } else {
      uint32_t v = uint32_t(r.*c.number);
      for (size_t i = 0; i < 4; ++i) bytes[c.offset + i] = char((v >> (8 * i)) & 0xFF);
    }
  }
  return bytes;
}

template <class Rec>
Rec Decode(std::string_view bytes, const Layout<Rec>& layout) {
  Rec r;
  if (bytes.size() < Rec::kLength) return r;
  for (const Column<Rec>& c : layout) {
    if (c.text != nullptr) {
      r.*c.text = std::string(bytes.substr(c.offset, c.length));
    } else {
      uint32_t v = 0;
      for (size_t i = 0; i < 4; ++i) v |= uint32_t(uint8_t(bytes[c.offset + i])) << (8 * i);
      r.*c.number = int32_t(v);
    }
  }
  return r;
}

template <class Rec>
Status ReadAll(const std::string& path, const Layout<Rec>& layout, std::vector<Rec>* recs) {
  recs->clear();
  std::string contents;
  Status s = platform::ReadFile(path, &contents);
  if (s.code() == Status::Code::kNotFound) return Status::Ok();
  if (!s.ok()) return s;
  size_t count = contents.size() / Rec::kLength;
  recs->reserve(count);
  for (size_t i = 0; i < count; ++i) {
    recs->push_back(
        Decode<Rec>(std::string_view(contents).substr(i * Rec::kLength, Rec::kLength), layout));
  }
  return Status::Ok();
}

template <class Rec>
Status WriteAll(const std::string& path, const Layout<Rec>& layout, const std::vector<Rec>& recs) {
  std::string contents;
  contents.reserve(recs.size() * Rec::kLength);
  for (const Rec& r : recs) contents += Encode(r, layout);
  // The catalogue is rebuilt from the host at every link opening: no need to wait for the
  // disk.
  return platform::WriteFileAtomic(path, contents, 0600, /*durable=*/false);
}

}  // namespace

std::string EncodeRecord(const DataBase_Rec& r) { return Encode(r, DataBaseLayout()); }
std::string EncodeRecord(const File_Rec& r) { return Encode(r, FileLayout()); }
std::string EncodeRecord(const Campo_Rec& r) { return Encode(r, CampoLayout()); }

DataBase_Rec DecodeDataBaseRec(std::string_view b) { return Decode(b, DataBaseLayout()); }
File_Rec DecodeFileRec(std::string_view b) { return Decode(b, FileLayout()); }
Campo_Rec DecodeCampoRec(std::string_view b) { return Decode(b, CampoLayout()); }

Status ReadDataBaseRecs(const std::string& path, std::vector<DataBase_Rec>* recs) {
  return ReadAll(path, DataBaseLayout(), recs);
}
Status ReadFileRecs(const std::string& path, std::vector<File_Rec>* recs) {
  return ReadAll(path, FileLayout(), recs);
}
Status ReadCampoRecs(const std::string& path, std::vector<Campo_Rec>* recs) {
  return ReadAll(path, CampoLayout(), recs);
}

Status WriteRecords(const std::string& path, const std::vector<DataBase_Rec>& recs) {
  return WriteAll(path, DataBaseLayout(), recs);
}
Status WriteRecords(const std::string& path, const std::vector<File_Rec>& recs) {
  return WriteAll(path, FileLayout(), recs);
}
Status WriteRecords(const std::string& path, const std::vector<Campo_Rec>& recs) {
  return WriteAll(path, CampoLayout(), recs);
}

}  // namespace torvan
