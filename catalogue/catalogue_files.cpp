#include "catalogue/catalogue_files.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "core/text.h"
#include "platform/file.h"

namespace torvan {

namespace {

namespace fs = std::filesystem;

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
  // While a switch is under way the new catalogue's files that have not moved yet are in
  // the ready folder: they, not the old ones beside them, are the current catalogue.
  const fs::path p(path);
  Status s = platform::ReadFile((p.parent_path() / kCatalogueReadyFolder / p.filename()).string(),
                                &contents);
  if (s.code() == Status::Code::kNotFound) s = platform::ReadFile(path, &contents);
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
Status WriteAll(const std::string& path, const Layout<Rec>& layout, const std::vector<Rec>& recs,
                bool durable = false) {
  std::string contents;
  contents.reserve(recs.size() * Rec::kLength);
  for (const Rec& r : recs) contents += Encode(r, layout);
  // The catalogue is rebuilt from the host at every link opening: without Durevole there
  // is no need to wait for the disk.
  return platform::WriteFileAtomic(path, contents, 0600, durable);
}

Status FsError(const std::string& context, const std::error_code& ec) {
  return PosixError(context, ec.value());
}

// The number n of a field file's name "TnC_F_nnnnn.DAT", 0 for any other name.
int FieldFileNumber(const std::string& name) {
  constexpr std::string_view kPrefix = "TnC_F_", kSuffix = ".DAT";
  if (name.size() != kPrefix.size() + 5 + kSuffix.size() || name.compare(0, 6, kPrefix) != 0 ||
      name.compare(name.size() - 4, 4, kSuffix) != 0) {
    return 0;
  }
  int n = 0;
  for (size_t i = kPrefix.size(); i < kPrefix.size() + 5; ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

// Spends one file-system step of a test's budget; false when it has run out, where a kill
// would have struck.
bool Step(int* steps_left) {
  if (steps_left == nullptr) return true;
  if (*steps_left <= 0) return false;
  --*steps_left;
  return true;
}

Status Stopped() { return Status::Closed("catalogue switch stopped"); }

std::string ReadyFolder(const Paths& paths) { return paths.base + "/" + kCatalogueReadyFolder; }

}  // namespace

Status FinishCatalogueSwitch(const Paths& paths, int* steps_left, bool durable) {
  const std::string ready = ReadyFolder(paths);
  std::error_code ec;
  if (!fs::exists(ready, ec)) return ec ? FsError("stat " + ready, ec) : Status::Ok();

  std::vector<std::string> names;
  for (fs::directory_iterator it(ready, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  if (ec) return FsError("list " + ready, ec);
  // Field files first, then TnC_FILE.DAT, TnC_DB.DAT last: a reader that ignored the ready
  // folder would still find every field file of the new TnC_FILE.DAT in place.
  const std::string file_name = fs::path(paths.file_catalogue).filename().string();
  const std::string db_name = fs::path(paths.database_catalogue).filename().string();
  auto rank = [&](const std::string& n) { return n == db_name ? 2 : n == file_name ? 1 : 0; };
  std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    return rank(a) != rank(b) ? rank(a) < rank(b) : a < b;
  });
  for (const std::string& name : names) {
    if (!Step(steps_left)) return Stopped();
    const std::string from = ready + "/" + name;
    if (FieldFileNumber(name) == 0 && name != file_name && name != db_name) {
      fs::remove(from, ec);  // not a catalogue file: nothing of the catalogue is lost
    } else {
      fs::rename(from, paths.base + "/" + name, ec);
    }
    // Another process finishing the same switch may have taken the file first.
    if (ec && ec != std::errc::no_such_file_or_directory) return FsError("move " + from, ec);
  }

  const uintmax_t bytes = fs::file_size(paths.file_catalogue, ec);
  if (!ec) {
    const uintmax_t count = bytes / File_Rec::kLength;
    std::vector<std::string> extra;
    for (fs::directory_iterator it(paths.base, ec), end; !ec && it != end; it.increment(ec)) {
      const int n = FieldFileNumber(it->path().filename().string());
      if (n != 0 && uintmax_t(n) > count) extra.push_back(it->path().string());
    }
    if (ec) return FsError("list " + paths.base, ec);
    for (const std::string& path : extra) {
      if (!Step(steps_left)) return Stopped();
      fs::remove(path, ec);
      if (ec) return FsError("remove " + path, ec);
    }
  }
  // The moves reach the disk before the ready folder, which would redo them, goes.
  if (durable) {
    if (Status s = platform::SyncFolder(paths.base); !s.ok()) return s;
  }
  if (!Step(steps_left)) return Stopped();
  fs::remove(ready, ec);
  if (ec && ec != std::errc::no_such_file_or_directory) return FsError("remove " + ready, ec);
  return durable ? platform::SyncFolder(paths.base) : Status::Ok();
}

CatalogueWriter::CatalogueWriter(const Paths& paths, bool durable)
    : paths_(paths), staging_(paths.base + "/" + kCatalogueStagingFolder), durable_(durable) {}

CatalogueWriter::~CatalogueWriter() {
  if (begun_ && !committed_ && !stopped_) {
    std::error_code ec;
    fs::remove_all(staging_, ec);
  }
}

Status CatalogueWriter::Begin() {
  Status s = FinishCatalogueSwitch(paths_);
  if (!s.ok()) return s;
  std::error_code ec;
  fs::remove_all(staging_, ec);  // what a load killed before its switch left behind
  if (ec) return FsError("remove " + staging_, ec);
  fs::create_directory(staging_, ec);
  if (ec) return FsError("create " + staging_, ec);
  begun_ = true;
  fs::permissions(staging_, fs::perms::owner_all, fs::perm_options::replace, ec);
  if (ec) return FsError("chmod " + staging_, ec);
  return Status::Ok();
}

std::string CatalogueWriter::Staged(const std::string& path) const {
  return staging_ + "/" + fs::path(path).filename().string();
}

Status CatalogueWriter::Write(const std::vector<DataBase_Rec>& recs) {
  return WriteAll(Staged(paths_.database_catalogue), DataBaseLayout(), recs, durable_);
}
Status CatalogueWriter::Write(const std::vector<File_Rec>& recs) {
  return WriteAll(Staged(paths_.file_catalogue), FileLayout(), recs, durable_);
}
Status CatalogueWriter::WriteFields(int n, const std::vector<Campo_Rec>& recs) {
  return WriteAll(Staged(paths_.FieldFile(n)), CampoLayout(), recs, durable_);
}

Status CatalogueWriter::Commit(int* steps_left) {
  if (!Step(steps_left)) {
    stopped_ = true;  // as a kill would: the staging folder stays behind
    return Stopped();
  }
  const std::string ready = ReadyFolder(paths_);
  std::error_code ec;
  fs::rename(staging_, ready, ec);
  if (ec) return FsError("rename " + staging_, ec);
  if (durable_) {
    if (Status s = platform::SyncFolder(paths_.base); !s.ok()) return s;
  }
  committed_ = true;
  Status s = FinishCatalogueSwitch(paths_, steps_left, durable_);
  if (s.code() == Status::Code::kClosed && steps_left != nullptr) return s;
  // The new catalogue is the current one: what remains is finished by the next load.
  return Status::Ok();
}

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
