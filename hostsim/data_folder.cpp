#include "hostsim/data_folder.h"

#include <algorithm>
#include <charconv>
#include <set>

#include "core/text.h"
#include "hostlink/field.h"
#include "platform/file.h"

namespace torvan::hostsim {

namespace {

// One meaningful line of a text file, already in Windows-1252.
struct Line {
  int number = 0;
  std::string text;
};

// Reads a UTF-8 text file into its non-empty, non-comment lines. A missing file gives no
// lines when `missing_ok`.
Status ReadLines(const std::string& path, bool missing_ok, std::vector<Line>* lines) {
  lines->clear();
  std::string contents;
  Status s = platform::ReadFile(path, &contents);
  if (s.code() == Status::Code::kNotFound && missing_ok) return Status::Ok();
  if (!s.ok()) return s;
  int number = 0;
  size_t pos = 0;
  while (pos < contents.size()) {
    size_t end = contents.find('\n', pos);
    if (end == std::string::npos) end = contents.size();
    std::string_view raw(contents.data() + pos, end - pos);
    pos = end + 1;
    ++number;
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    std::string text = Utf8ToCp1252(raw);
    if (Cp1252ToUtf8(text) != raw) {
      return Status::InvalidArgument(path + ":" + std::to_string(number) +
                                     ": a character is not UTF-8 or not in Windows-1252");
    }
    std::string trimmed = Trim(text);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    lines->push_back({number, std::move(text)});
  }
  return Status::Ok();
}

std::vector<std::string> SplitColumns(const std::string& text, char separator) {
  std::vector<std::string> columns;
  size_t pos = 0;
  for (;;) {
    size_t end = text.find(separator, pos);
    columns.push_back(text.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return columns;
}

Status LineError(const std::string& path, int line, const std::string& problem) {
  return Status::InvalidArgument(path + ":" + std::to_string(line) + ": " + problem);
}

bool ParseInt(std::string_view text, int64_t* value) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

// A name of the host: 1 to 10 characters without blanks or separators.
bool IsHostName(const std::string& s) {
  if (s.empty() || s.size() > 10) return false;
  return std::none_of(s.begin(), s.end(), [](char c) {
    return c == ' ' || c == '/' || c == '.' || c == '=' || c == '\t' || uint8_t(c) < 0x20;
  });
}

// Checks that a column fits its width in the listings.
Status Width(const std::string& path, int line, const std::string& what, const std::string& v,
             size_t width) {
  if (v.size() > width) {
    return LineError(path, line,
                     what + " \"" + Cp1252ToUtf8(v) + "\" is longer than " + std::to_string(width) +
                         " characters");
  }
  return Status::Ok();
}

Status LoadConfig(const DataFolder& folder, HostConfig* config) {
  std::vector<Line> lines;
  const std::string path = folder.Config();
  Status s = ReadLines(path, true, &lines);
  if (!s.ok()) return s;
  for (const Line& line : lines) {
    size_t eq = line.text.find('=');
    if (eq == std::string::npos) return LineError(path, line.number, "expected key = value");
    std::string key = Trim(line.text.substr(0, eq));
    std::string value = Trim(line.text.substr(eq + 1));
    int64_t n = 0;
    if (key == "user") {
      config->user = value;
    } else if (key == "password") {
      config->password = value;
    } else if (key == "library") {
      if (!IsHostName(value)) return LineError(path, line.number, "library is not a host name");
      config->server_library = value;
    } else if (key == "listen") {
      config->listen = value;
    } else if (key == "ftp_port" || key == "port") {
      if (!ParseInt(value, &n) || n < (key == "port" ? -1 : 0) || n > 65535) {
        return LineError(path, line.number, key + " must be a port number");
      }
      (key == "port" ? config->port : config->ftp_port) = int(n);
    } else {
      return LineError(path, line.number, "unknown setting \"" + Cp1252ToUtf8(key) + "\"");
    }
  }
  return Status::Ok();
}

Status LoadDatabases(const DataFolder& folder, std::vector<HostDatabase>* databases) {
  std::vector<Line> lines;
  const std::string path = folder.Databases();
  Status s = ReadLines(path, true, &lines);
  if (!s.ok()) return s;
  for (const Line& line : lines) {
    std::vector<std::string> c = SplitColumns(line.text, '|');
    if (c.size() > 7) return LineError(path, line.number, "more than 7 columns");
    c.resize(7);
    for (auto& v : c) v = Trim(v);
    HostDatabase db{c[0], c[1], c[2], c[3], c[4], c[5], c[6]};
    if (db.name.empty()) return LineError(path, line.number, "the database has no name");
    const std::pair<const char*, std::pair<const std::string*, size_t>> widths[] = {
        {"name", {&db.name, 20}},     {"description", {&db.description, 50}},
        {"server", {&db.server, 20}}, {"address", {&db.address, 16}},
        {"user", {&db.user, 20}},     {"password", {&db.password, 20}},
        {"folder", {&db.folder, 50}}};
    for (const auto& [what, field] : widths) {
      s = Width(path, line.number, what, *field.first, field.second);
      if (!s.ok()) return s;
    }
    databases->push_back(std::move(db));
  }
  return Status::Ok();
}

Status Flag(const std::string& path, int line, const std::string& what, const std::string& v,
            char* flag) {
  if (v.empty()) {
    *flag = 'N';
  } else if (v.size() == 1) {
    *flag = v[0];
  } else {
    return LineError(path, line, what + " must be one character (S or N)");
  }
  return Status::Ok();
}

Status LoadFileList(const DataFolder& folder, HostData* data) {
  std::vector<Line> lines;
  const std::string path = folder.Files();
  Status s = ReadLines(path, true, &lines);
  if (!s.ok()) return s;
  for (const Line& line : lines) {
    std::vector<std::string> c = SplitColumns(line.text, '|');
    if (c.size() > 11) return LineError(path, line.number, "more than 11 columns");
    c.resize(11);
    for (auto& v : c) v = Trim(v);
    auto f = std::make_unique<HostFile>();
    f->library = UpperCp1252(c[0]);
    f->file = UpperCp1252(c[1]);
    f->text = c[2];
    f->trigger_library = c[3];
    f->trigger = c[4];
    f->database = c[8];
    f->filter_library = c[9];
    f->filter = c[10];
    if (!IsHostName(f->library) || !IsHostName(f->file)) {
      return LineError(path, line.number, "library and file must be names of 1 to 10 characters");
    }
    if (data->FindFile(f->library, f->file) != nullptr) {
      return LineError(path, line.number, Cp1252ToUtf8(f->Name()) + " is listed twice");
    }
    if (!(s = Width(path, line.number, "text", f->text, 50)).ok() ||
        !(s = Width(path, line.number, "trigger library", f->trigger_library, 10)).ok() ||
        !(s = Width(path, line.number, "trigger", f->trigger, 10)).ok() ||
        !(s = Width(path, line.number, "database", f->database, 20)).ok() ||
        !(s = Width(path, line.number, "filter library", f->filter_library, 10)).ok() ||
        !(s = Width(path, line.number, "filter", f->filter, 10)).ok() ||
        !(s = Flag(path, line.number, "As_Pc", c[5], &f->as_pc)).ok() ||
        !(s = Flag(path, line.number, "Pc_As", c[6], &f->pc_as)).ok() ||
        !(s = Flag(path, line.number, "Acq", c[7], &f->acq)).ok()) {
      return s;
    }
    data->files.push_back(std::move(f));
  }
  return Status::Ok();
}

Status LoadFields(const DataFolder& folder, HostFile* file) {
  std::vector<Line> lines;
  const std::string path = folder.Fields(*file);
  Status s = ReadLines(path, false, &lines);
  if (!s.ok()) return s;
  std::vector<std::pair<int32_t, int32_t>> spans;  // (position, end) of each field
  int32_t next_position = 1;
  for (const Line& line : lines) {
    std::vector<std::string> c = SplitColumns(line.text, '|');
    if (c.size() > 8) return LineError(path, line.number, "more than 8 columns");
    c.resize(8);
    for (auto& v : c) v = Trim(v);
    HostField f;
    f.name = UpperCp1252(c[0]);
    f.text = c[1];
    if (!IsHostName(f.name)) {
      return LineError(path, line.number, "the field name must have 1 to 10 characters");
    }
    if (file->FindField(f.name) != nullptr) {
      return LineError(path, line.number, "field " + Cp1252ToUtf8(f.name) + " is listed twice");
    }
    if (!(s = Width(path, line.number, "text", f.text, 50)).ok()) return s;
    const std::optional<hostlink::FieldType> type = hostlink::ParseFieldType(UpperCp1252(c[2]));
    if (!type) return LineError(path, line.number, "type must be A, S, P or B");
    f.type = char(*type);
    int64_t digits = 0, decimals = 0, position = 0, bytes = 0;
    if (!ParseInt(c[3], &digits) || hostlink::FieldBytes(*type, int32_t(digits)) == 0) {
      return LineError(path, line.number, "digits out of range for type " + std::string(1, f.type));
    }
    if (c[4].empty()) c[4] = "0";
    if (!ParseInt(c[4], &decimals) || decimals < 0 || decimals > digits ||
        (f.type == 'A' && decimals != 0)) {
      return LineError(path, line.number, "decimals out of range");
    }
    f.digits = int32_t(digits);
    f.decimals = int32_t(decimals);
    const int32_t needed = hostlink::FieldBytes(*type, f.digits);
    if (c[5].empty()) {
      position = next_position;
    } else if (!ParseInt(c[5], &position) || position < 1 || position > kMaxRecordLength) {
      return LineError(path, line.number, "position out of range");
    }
    if (c[6].empty()) {
      bytes = needed;
    } else if (!ParseInt(c[6], &bytes) || bytes > INT32_MAX ||
               !hostlink::HostFieldLayout(*type, f.digits, int32_t(bytes))) {
      return LineError(path, line.number,
                       f.type == 'B' ? std::string("a binary field takes 2, 4 or 8 bytes")
                                     : "a field of this type and digits takes " +
                                           std::to_string(needed) + " bytes");
    }
    f.position = int32_t(position);
    f.bytes = int32_t(bytes);
    const int32_t end = f.position + f.bytes - 1;
    if (end > kMaxRecordLength) {
      return LineError(
          path, line.number,
          "the record would be longer than " + std::to_string(kMaxRecordLength) + " bytes");
    }
    for (const auto& [p, e] : spans) {
      if (f.position <= e && p <= end) {
        return LineError(path, line.number, "the field overlaps another field");
      }
    }
    spans.push_back({f.position, end});
    if (c[7].size() > 1) return LineError(path, line.number, "excluded must be empty or S");
    f.excluded = !c[7].empty();
    next_position = end + 1;
    file->record_length = std::max(file->record_length, end);
    if (f.name == kIndexFieldName) file->index_field = int(file->fields.size());
    file->fields.push_back(std::move(f));
  }
  if (file->fields.empty()) return Status::InvalidArgument(path + ": the file has no fields");
  return Status::Ok();
}

// "-000120.75" -> "-120.75", "000" -> "0": the same number, easier to read.
std::string WithoutLeadingZeros(const std::string& number) {
  size_t start = !number.empty() && number[0] == '-' ? 1 : 0;
  size_t first = start;
  while (first + 1 < number.size() && number[first] == '0' && number[first + 1] != '.') ++first;
  return number.substr(0, start) + number.substr(first);
}

}  // namespace

std::string DataFolder::Fields(const HostFile& f) const {
  return dir + "/fields/" + Cp1252ToUtf8(f.library + "." + f.file) + ".txt";
}

std::string DataFolder::Records(const HostFile& f) const {
  return dir + "/records/" + Cp1252ToUtf8(f.library + "." + f.file) + ".txt";
}

std::string DataFolder::Image(const std::string& key, int part) const {
  std::string name = Trim(key);
  if (name.empty() || part < 1 || part > 99999) return "";
  for (char c : name) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '_' || c == '-' || c == '$' || c == '#' || c == '@';
    if (!plain) return "";
  }
  return dir + "/images/" + name + "." + ZeroPad(part, 5);
}

HostFile* HostData::FindFile(const std::string& library, const std::string& file) const {
  const std::string l = UpperCp1252(library), f = UpperCp1252(file);
  for (const auto& hf : files) {
    if (hf->library == l && hf->file == f) return hf.get();
  }
  return nullptr;
}

HostFile* HostData::FindFile(const std::string& qualified_name) const {
  size_t slash = qualified_name.find('/');
  if (slash == std::string::npos) return nullptr;
  return FindFile(qualified_name.substr(0, slash), qualified_name.substr(slash + 1));
}

const HostField* HostFile::FindField(const std::string& name) const {
  const std::string n = UpperCp1252(name);
  for (const auto& f : fields) {
    if (f.name == n) return &f;
  }
  return nullptr;
}

Status LoadDefinitions(const DataFolder& folder, HostData* data) {
  Status s = LoadConfig(folder, &data->config);
  if (s.ok()) s = LoadDatabases(folder, &data->databases);
  if (s.ok()) s = LoadFileList(folder, data);
  for (auto& f : data->files) {
    if (!s.ok()) break;
    s = LoadFields(folder, f.get());
  }
  return s;
}

std::string ToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 15]);
  }
  return hex;
}

bool FromHex(std::string_view hex, std::string* bytes) {
  if (hex.size() % 2 != 0) return false;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  bytes->clear();
  bytes->reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes->push_back(char(hi << 4 | lo));
  }
  return true;
}

Status AssignFields(const RecordCodec& codec, const HostFile& file,
                    const std::vector<std::string>& assignments, std::string* record) {
  for (const std::string& a : assignments) {
    size_t eq = a.find('=');
    if (eq == std::string::npos) {
      return Status::InvalidArgument("expected FIELD=value, got \"" + Cp1252ToUtf8(a) + "\"");
    }
    const HostField* field = file.FindField(Trim(a.substr(0, eq)));
    if (field == nullptr) {
      return Status::InvalidArgument("unknown field " + Cp1252ToUtf8(Trim(a.substr(0, eq))) +
                                     " in " + Cp1252ToUtf8(file.Name()));
    }
    Status s = codec.PutField(*field, std::string_view(a).substr(eq + 1), record);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

std::string RecordText(const RecordCodec& codec, const HostFile& file, const std::string& record) {
  std::string text;
  std::vector<std::string> assignments;
  for (const HostField& f : file.fields) {
    std::string value;
    if (!codec.GetField(f, record, &value).ok()) return "hex:" + ToHex(record);
    value = f.type == 'A' ? TrimRight(value) : WithoutLeadingZeros(Trim(value));
    if (std::any_of(value.begin(), value.end(), [](char c) { return uint8_t(c) < 0x20; })) {
      return "hex:" + ToHex(record);
    }
    assignments.push_back(f.name + "=" + value);
  }
  std::string check = codec.EmptyRecord(file);
  if (!AssignFields(codec, file, assignments, &check).ok() || check != record) {
    return "hex:" + ToHex(record);
  }
  for (const std::string& a : assignments) {
    if (!text.empty()) text += '\t';
    text += a;
  }
  return text;
}

Status LoadRecords(const DataFolder& folder, const RecordCodec& codec, HostFile* file) {
  std::vector<Line> lines;
  const std::string path = folder.Records(*file);
  Status s = ReadLines(path, true, &lines);
  if (!s.ok()) return s;
  file->records.clear();
  int64_t next_rrn = 0;
  for (const Line& line : lines) {
    std::vector<std::string> c = SplitColumns(line.text, '\t');
    if (Trim(c[0]) == "next_rrn") {
      if (c.size() != 2 || !ParseInt(Trim(c[1]), &next_rrn) || next_rrn < 1 ||
          next_rrn > INT32_MAX) {
        return LineError(path, line.number, "next_rrn must be a number from 1");
      }
      continue;
    }
    int64_t rrn = 0;
    if (!ParseInt(Trim(c[0]), &rrn) || rrn < 1 || rrn >= INT32_MAX) {
      return LineError(path, line.number, "a record line starts with its RRN (1 or more)");
    }
    if (file->records.count(int32_t(rrn)) != 0) {
      return LineError(path, line.number, "RRN " + std::to_string(rrn) + " appears twice");
    }
    std::string record;
    if (c.size() == 2 && c[1].rfind("hex:", 0) == 0) {
      if (!FromHex(Trim(c[1].substr(4)), &record) ||
          int32_t(record.size()) != file->record_length) {
        return LineError(
            path, line.number,
            "hex: needs " + std::to_string(file->record_length) + " bytes as hex digits");
      }
    } else {
      record = codec.EmptyRecord(*file);
      s = AssignFields(codec, *file, std::vector<std::string>(c.begin() + 1, c.end()), &record);
      if (!s.ok()) return LineError(path, line.number, s.message());
    }
    file->records.emplace(int32_t(rrn), std::move(record));
  }
  int32_t after_last = file->records.empty() ? 1 : file->records.rbegin()->first + 1;
  file->next_rrn = std::max<int32_t>(after_last, int32_t(next_rrn));
  return Status::Ok();
}

Status WriteRecords(const DataFolder& folder, const RecordCodec& codec, const HostFile& file) {
  std::string text = "# " + file.Name() + ": RRN, then FIELD=value (tab-separated) or hex:bytes\n";
  text += "next_rrn\t" + std::to_string(file.next_rrn) + "\n";
  for (const auto& [rrn, record] : file.records) {
    text += std::to_string(rrn);
    text += '\t';
    text += RecordText(codec, file, record);
    text += '\n';
  }
  return platform::WriteFileAtomic(folder.Records(file), Cp1252ToUtf8(text), 0644);
}

}  // namespace torvan::hostsim
