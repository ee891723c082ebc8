#include "hostsim/host_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "core/text.h"
#include "platform/file.h"

namespace torvan::hostsim {

namespace {

// Journal entries (fields separated by one blank; names never contain blanks):
//   P LIB/FILE RRN HEX         record RRN now holds these bytes
//   D LIB/FILE RRN             record RRN deleted
//   C LIB/FILE                 file cleared
//   E SEQ CODE LIB/FILE RRN TEXT14 BEFOREHEX AFTERHEX    change queued ("-" = no bytes)
//   A SEQ                      change acknowledged by the PC
constexpr uint64_t kMinCompactBytes = 16 << 20;

std::vector<std::string_view> SplitBlanks(std::string_view s) {
  std::vector<std::string_view> parts;
  size_t pos = 0;
  while (pos <= s.size()) {
    size_t end = s.find(' ', pos);
    if (end == std::string_view::npos) end = s.size();
    parts.push_back(s.substr(pos, end - pos));
    pos = end + 1;
  }
  return parts;
}

template <typename T>
bool ParseNumber(std::string_view s, T* value) {
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), *value);
  return ec == std::errc() && end == s.data() + s.size() && !s.empty();
}

std::string HexOrDash(const std::string& bytes) { return bytes.empty() ? "-" : ToHex(bytes); }

bool FromHexOrDash(std::string_view s, std::string* bytes) {
  if (s == "-") {
    bytes->clear();
    return true;
  }
  return FromHex(s, bytes);
}

std::string ChangeLine(const Change& c) {
  std::string line = std::to_string(c.seq);
  line += ' ';
  line += c.code;
  line += ' ' + c.library + '/' + c.file + ' ' + std::to_string(c.rrn) + ' ' + c.text14 + ' ' +
          HexOrDash(c.before) + ' ' + HexOrDash(c.after);
  return line;
}

// Reads the fields of a change written by ChangeLine.
bool ParseChange(const std::vector<std::string_view>& p, size_t first, Change* c) {
  if (p.size() != first + 7) return false;
  size_t slash = p[first + 2].find('/');
  if (!ParseNumber(p[first], &c->seq) || c->seq < 1 || p[first + 1].size() != 1 ||
      p[first + 1][0] < kChangeAdded || p[first + 1][0] > kChangeCleared ||
      slash == std::string_view::npos || !ParseNumber(p[first + 3], &c->rrn) ||
      p[first + 4].size() != 14 || !FromHexOrDash(p[first + 5], &c->before) ||
      !FromHexOrDash(p[first + 6], &c->after)) {
    return false;
  }
  c->code = p[first + 1][0];
  c->library = std::string(p[first + 2].substr(0, slash));
  c->file = std::string(p[first + 2].substr(slash + 1));
  c->text14 = std::string(p[first + 4]);
  return true;
}

Status MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
    return PosixError("mkdir " + path, errno);
  return Status::Ok();
}

}  // namespace

bool IsTime14(const std::string& s) {
  if (s.size() != 14 ||
      !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  auto n = [&](size_t pos) { return (s[pos] - '0') * 10 + (s[pos + 1] - '0'); };
  return n(4) >= 1 && n(4) <= 12 && n(6) >= 1 && n(6) <= 31 && n(8) <= 23 && n(10) <= 59 &&
         n(12) <= 59;
}

Status HostStore::Open(const DataFolder& folder, const RecordCodec& codec, platform::Clock* clock,
                       std::unique_ptr<HostStore>* out, std::string* notes) {
  std::unique_ptr<HostStore> store(new HostStore(folder, codec, clock));
  Status s = LoadDefinitions(folder, &store->data_);
  for (auto& f : store->data_.files) {
    if (!s.ok()) break;
    s = LoadRecords(folder, codec, f.get());
  }
  if (s.ok()) s = store->LoadQueue();
  if (s.ok()) s = store->LoadState();
  if (!s.ok()) return s;
  size_t dropped = 0;
  s = Journal::Replay(
      folder.Journal(), [&](std::string_view e) { return store->ApplyEntry(e, notes); }, &dropped);
  if (!s.ok()) return s;
  if (dropped > 0) {
    *notes += "journal: the last " + std::to_string(dropped) +
              " bytes were torn or damaged and have been left out\n";
  }
  // Every file is written once at open, so that records given as hand-written values and
  // the journal's changes all end up in the text files.
  store->dirty_.clear();
  for (auto& f : store->data_.files) store->dirty_.push_back(f.get());
  s = MakeFolder(folder.dir + "/records");
  if (s.ok()) s = store->Compact();
  if (!s.ok()) return s;
  *out = std::move(store);
  return Status::Ok();
}

Status HostStore::LoadQueue() {
  std::string contents;
  Status s = platform::ReadFile(folder_.Queue(), &contents);
  if (s.code() == Status::Code::kNotFound) return Status::Ok();
  if (!s.ok()) return s;
  size_t pos = 0;
  int number = 0;
  while (pos < contents.size()) {
    size_t end = contents.find('\n', pos);
    if (end == std::string::npos) end = contents.size();
    std::string_view line(contents.data() + pos, end - pos);
    pos = end + 1;
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string_view> p = SplitBlanks(line);
    Change c;
    if (p.size() == 2 && p[0] == "next_seq" && ParseNumber(p[1], &next_seq_) && next_seq_ >= 1) {
      continue;
    }
    if (!ParseChange(p, 0, &c)) {
      return Status::InvalidArgument(folder_.Queue() + ":" + std::to_string(number) +
                                     ": not a change line");
    }
    next_seq_ = std::max(next_seq_, c.seq + 1);
    queue_.push_back(std::move(c));
  }
  return Status::Ok();
}

Status HostStore::LoadState() {
  std::string contents;
  Status s = platform::ReadFile(folder_.State(), &contents);
  if (s.code() == Status::Code::kNotFound) return Status::Ok();
  if (!s.ok()) return s;
  for (std::string_view rest = contents; !rest.empty();) {
    size_t end = rest.find('\n');
    std::string line(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    if (key == "stop" && (value.empty() || IsTime14(value))) schedule_.stop = value;
    if (key == "restart" && (value.empty() || IsTime14(value))) schedule_.restart = value;
    if (key == "stopping") schedule_.stopping = value == "S";
  }
  return Status::Ok();
}

Status HostStore::ApplyEntry(std::string_view entry, std::string* notes) {
  std::vector<std::string_view> p = SplitBlanks(entry);
  const char kind = p[0].size() == 1 ? p[0][0] : '?';
  if (kind == 'A' && p.size() == 2) {
    int64_t seq = 0;
    if (ParseNumber(p[1], &seq)) Acknowledge(seq);
    return Status::Ok();
  }
  if (kind == 'E') {
    Change c;
    if (!ParseChange(p, 1, &c)) return Status::Ok();
    if (c.seq >= next_seq_) {  // entries already in queue.txt are not queued twice
      next_seq_ = c.seq + 1;
      queue_.push_back(std::move(c));
    }
    return Status::Ok();
  }
  if (p.size() < 2) return Status::Ok();
  HostFile* file = data_.FindFile(std::string(p[1]));
  if (file == nullptr) {
    *notes += "journal: a change of " + std::string(p[1]) + ", no longer defined, was left out\n";
    return Status::Ok();
  }
  int32_t rrn = 0;
  std::string record;
  if (kind == 'P' && p.size() == 4 && ParseNumber(p[2], &rrn) && rrn >= 1 &&
      FromHex(p[3], &record) && int32_t(record.size()) == file->record_length) {
    PutRecord(file, rrn, std::move(record));
  } else if (kind == 'D' && p.size() == 3 && ParseNumber(p[2], &rrn)) {
    file->records.erase(rrn);
  } else if (kind == 'C' && p.size() == 2) {
    file->records.clear();
    file->next_rrn = 1;
  } else {
    *notes += "journal: an entry for " + std::string(p[1]) +
              " does not match the file's layout and was left out\n";
  }
  return Status::Ok();
}

void HostStore::PutRecord(HostFile* file, int32_t rrn, std::string record) {
  file->records[rrn] = std::move(record);
  if (rrn >= file->next_rrn) file->next_rrn = rrn + 1;
}

void HostStore::Enqueue(char code, const HostFile& file, int32_t rrn, std::string before,
                        std::string after) {
  Change c;
  c.seq = next_seq_++;
  c.code = code;
  c.library = file.library;
  c.file = file.file;
  c.rrn = rrn;
  c.text14 = platform::FormatYmdHns(clock_->Now());
  c.before = std::move(before);
  c.after = std::move(after);
  journal_.Add("E " + ChangeLine(c));
  must_flush_ = true;
  queue_.push_back(std::move(c));
}

Status HostStore::Insert(HostFile* file, std::string record, bool queue, int32_t* rrn) {
  if (int32_t(record.size()) != file->record_length) {
    return Status::InvalidArgument("record of the wrong length for " + file->Name());
  }
  if (file->next_rrn == INT32_MAX) return Status::InvalidArgument(file->Name() + " is full");
  *rrn = file->next_rrn;
  journal_.Add("P " + file->Name() + " " + std::to_string(*rrn) + " " + ToHex(record));
  must_flush_ = true;
  if (queue) Enqueue(kChangeAdded, *file, *rrn, record, record);
  PutRecord(file, *rrn, std::move(record));
  dirty_.push_back(file);
  return Status::Ok();
}

Status HostStore::Update(HostFile* file, int32_t rrn, std::string record, bool queue) {
  auto it = file->records.find(rrn);
  if (it == file->records.end()) {
    return Status::NotFound(file->Name() + " has no record at RRN " + std::to_string(rrn));
  }
  if (int32_t(record.size()) != file->record_length) {
    return Status::InvalidArgument("record of the wrong length for " + file->Name());
  }
  journal_.Add("P " + file->Name() + " " + std::to_string(rrn) + " " + ToHex(record));
  must_flush_ = true;
  if (queue) Enqueue(kChangeUpdated, *file, rrn, it->second, record);
  it->second = std::move(record);
  dirty_.push_back(file);
  return Status::Ok();
}

Status HostStore::Delete(HostFile* file, int32_t rrn, bool queue) {
  auto it = file->records.find(rrn);
  if (it == file->records.end()) {
    return Status::NotFound(file->Name() + " has no record at RRN " + std::to_string(rrn));
  }
  journal_.Add("D " + file->Name() + " " + std::to_string(rrn));
  must_flush_ = true;
  // The PC reads the index field of a deleted record from the after image.
  if (queue) Enqueue(kChangeDeleted, *file, rrn, it->second, it->second);
  file->records.erase(it);
  dirty_.push_back(file);
  return Status::Ok();
}

Status HostStore::Clear(HostFile* file, bool queue) {
  journal_.Add("C " + file->Name());
  must_flush_ = true;
  if (queue) Enqueue(kChangeCleared, *file, 0, "", "");
  file->records.clear();
  file->next_rrn = 1;
  dirty_.push_back(file);
  return Status::Ok();
}

Status HostStore::Refresh(HostFile* file) {
  Enqueue(kChangeCleared, *file, 0, "", "");
  for (const auto& [rrn, record] : file->records) Enqueue(kChangeAdded, *file, rrn, record, record);
  return Status::Ok();
}

void HostStore::Acknowledge(int64_t seq) {
  if (queue_.empty() || queue_.front().seq != seq) return;
  queue_.pop_front();
  journal_.Add("A " + std::to_string(seq));
}

Status HostStore::SetSchedule(const Schedule& schedule) {
  if ((!schedule.stop.empty() && !IsTime14(schedule.stop)) ||
      (!schedule.restart.empty() && !IsTime14(schedule.restart))) {
    return Status::InvalidArgument("times are written yyyymmddhhnnss");
  }
  std::string text = "# torvan-host schedule, written by the server\nstop = " + schedule.stop +
                     "\nrestart = " + schedule.restart +
                     "\nstopping = " + (schedule.stopping ? "S" : "N") + "\n";
  Status s = platform::WriteFileAtomic(folder_.State(), text, 0644);
  if (s.ok()) schedule_ = schedule;
  return s;
}

Status HostStore::Flush(bool sync) {
  if (journal_.HasPending()) {
    Status s = journal_.Flush(sync);
    if (!s.ok()) return s;
  }
  must_flush_ = false;
  if (journal_.size() > kMinCompactBytes && journal_.size() > snapshot_bytes_) return Compact();
  return Status::Ok();
}

Status HostStore::Compact() {
  std::sort(dirty_.begin(), dirty_.end());
  dirty_.erase(std::unique(dirty_.begin(), dirty_.end()), dirty_.end());
  uint64_t bytes = 0;
  for (HostFile* f : dirty_) {
    Status s = WriteRecords(folder_, codec_, *f);
    if (!s.ok()) return s;
  }
  dirty_.clear();
  std::string text = "# changes waiting for the PC, oldest first (written by torvan-host)\n";
  text += "next_seq " + std::to_string(next_seq_) + "\n";
  for (const Change& c : queue_) text += ChangeLine(c) + "\n";
  bytes += text.size();
  Status s = platform::WriteFileAtomic(folder_.Queue(), text, 0644);
  if (!s.ok()) return s;
  for (const auto& f : data_.files) bytes += uint64_t(f->records.size()) * f->record_length * 2;
  snapshot_bytes_ = bytes;
  // Only once the text files hold everything may the journal start again.
  Status started = journal_.Start(folder_.Journal());
  if (started.ok()) must_flush_ = false;
  return started;
}

}  // namespace torvan::hostsim
