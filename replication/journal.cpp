#include "replication/journal.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/crc32.h"
#include "platform/file.h"

namespace torvan {

namespace {

using namespace journal_format;

void PutU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(char((v >> (8 * i)) & 0xFF));
}
void PutU64(std::string* out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out->push_back(char((v >> (8 * i)) & 0xFF));
}
uint32_t GetU32(std::string_view in) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(in[size_t(i)])) << (8 * i);
  return v;
}
uint64_t GetU64(std::string_view in) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= uint64_t(uint8_t(in[size_t(i)])) << (8 * i);
  return v;
}

std::string BasePayload(uint64_t id, std::string_view last_received) {
  std::string p;
  PutU64(&p, id);
  p += last_received;
  return p;
}

std::string ChangePayload(std::string_view received, std::string_view data) {
  std::string p(1, char(uint8_t(received.size() > 255 ? 255 : received.size())));
  p += received.substr(0, 255);
  p += data;
  return p;
}

Status Damaged(const std::string& path, uint64_t offset, const std::string& why) {
  return Status::Fault(path + " danneggiato: registrazione all'offset " + std::to_string(offset) +
                       " " + why);
}

// Whether `bytes` start with a whole record, its length and CRC right.
bool WholeRecordAt(std::string_view bytes) {
  if (bytes.size() < kHeaderSize) return false;
  const uint32_t length = GetU32(bytes);
  return length >= kBodyFixed && length <= kMaxBody && kHeaderSize + length <= bytes.size() &&
         platform::Crc32(bytes.substr(kHeaderSize, length)) == GetU32(bytes.substr(4));
}

// Whether a whole record of a known type starts anywhere in `bytes`.
bool HoldsRecord(std::string_view bytes) {
  for (size_t at = 0; at + kHeaderSize + kBodyFixed <= bytes.size(); ++at) {
    const uint8_t type = uint8_t(bytes[at + kHeaderSize]);
    if (type < uint8_t(JournalRecord::kBase) || type > uint8_t(JournalRecord::kApplied)) continue;
    if (WholeRecordAt(bytes.substr(at))) return true;
  }
  return false;
}

// Replays the records of `bytes` into `*c`.
Status Parse(const std::string& path, std::string_view bytes, JournalContents* c) {
  *c = JournalContents{};
  uint64_t off = 0;
  bool first = true;
  while (off < bytes.size()) {
    const std::string_view rest = bytes.substr(off);
    // A tail of zeros (an extension the write never filled) is a write cut short, and so
    // is a last record that claims to reach to the end or past it: each record is written
    // with one call, so a kill leaves a part of the last one. A whole record after it says
    // the length itself is damaged, and the good records must not go with it.
    auto torn = [&] {
      if (rest.find_first_not_of('\0') == std::string_view::npos) return true;
      if (rest.size() < kHeaderSize) return true;
      const uint64_t length = GetU32(rest);
      return kHeaderSize + length >= rest.size() && !HoldsRecord(rest.substr(kHeaderSize));
    };
    if (!WholeRecordAt(rest)) {
      if (torn()) {
        c->torn_tail = true;
        return Status::Ok();
      }
      return Damaged(path, off, "illeggibile (CRC o lunghezza errati)");
    }
    const uint32_t length = GetU32(rest);
    const std::string_view body = rest.substr(kHeaderSize, length);
    const auto type = JournalRecord(uint8_t(body[0]));
    const uint64_t seq = GetU64(body.substr(1));
    const std::string_view payload = body.substr(kBodyFixed);
    if (first != (type == JournalRecord::kBase)) {
      return Damaged(path, off, first ? "non \xE8 l'inizio del giornale" : "fuori posto");
    }
    switch (type) {
      case JournalRecord::kBase:
        if (payload.size() < 8) return Damaged(path, off, "incompleta");
        c->id = GetU64(payload);
        c->last_sequence = seq;
        c->last_received = std::string(payload.substr(8));
        break;
      case JournalRecord::kChange: {
        if (seq != c->last_sequence + 1 || payload.empty() ||
            payload.size() < 1 + size_t(uint8_t(payload[0]))) {
          return Damaged(path, off, "fuori sequenza");
        }
        const size_t n = uint8_t(payload[0]);
        JournalEntry e;
        e.sequence = seq;
        e.received = std::string(payload.substr(1, n));
        e.data = std::string(payload.substr(1 + n));
        c->last_received = e.data;
        c->last_sequence = seq;
        c->waiting.push_back(std::move(e));
        break;
      }
      case JournalRecord::kSetAside:
        if (c->waiting.empty() || c->waiting.front().sequence != seq) {
          return Damaged(path, off, "accantona una modifica che non c'\xE8");
        }
        c->waiting.pop_front();
        break;
      case JournalRecord::kApplied:
        if (seq > c->last_sequence) return Damaged(path, off, "oltre l'ultima modifica");
        while (!c->waiting.empty() && c->waiting.front().sequence <= seq) c->waiting.pop_front();
        break;
      default:
        return Damaged(path, off, "di tipo sconosciuto");
    }
    first = false;
    off += kHeaderSize + length;
    c->valid_bytes = off;
  }
  return Status::Ok();
}

Status ReadAll(int fd, const std::string& path, std::string* out) {
  out->clear();
  char buf[65536];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buf, sizeof buf, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return PosixError("read " + path, errno);
    if (n == 0) return Status::Ok();
    out->append(buf, size_t(n));
    at += n;
  }
}

Status WriteAllAt(int fd, const std::string& path, std::string_view bytes, off_t at) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done, at + off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return PosixError("write " + path, errno);
    if (n == 0) return PosixError("write " + path, ENOSPC);
    done += size_t(n);
  }
  return Status::Ok();
}

int OpenFile(const std::string& path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A fresh file at `path` holding `bytes`, replacing any other by rename, on the disk
// (folder included) when this returns. `*renamed`: the rename happened (the old file is
// gone even when the folder's sync then failed).
Status ReplaceFile(const std::string& path, const std::string& bytes, bool* renamed) {
  *renamed = false;
  const std::string fresh = path + ".nuovo";
  const int fd = OpenFile(fresh, O_WRONLY | O_CREAT | O_TRUNC);
  if (fd < 0) return PosixError("open " + fresh, errno);
  Status s = WriteAllAt(fd, fresh, bytes, 0);
  if (s.ok() && ::fdatasync(fd) != 0) s = PosixError("sync " + fresh, errno);
  ::close(fd);
  if (s.ok() && ::rename(fresh.c_str(), path.c_str()) != 0)
    s = PosixError("rename " + fresh, errno);
  if (!s.ok()) {
    (void)::unlink(fresh.c_str());
    return s;
  }
  *renamed = true;
  return platform::SyncFolder(platform::FolderOf(path));
}

uint64_t NewId() {
  timespec t{};
  ::clock_gettime(CLOCK_REALTIME, &t);
  const uint64_t id =
      (uint64_t(t.tv_sec) * 1000000000u + uint64_t(t.tv_nsec)) ^ (uint64_t(::getpid()) << 40);
  return (id & 0x7FFFFFFFFFFFFFFFull) | 1;  // positive in a BIGINT, never 0
}

}  // namespace

std::string JournalRecordBytes(JournalRecord type, uint64_t sequence, std::string_view payload) {
  std::string body(1, char(type));
  PutU64(&body, sequence);
  body += payload;
  std::string record;
  PutU32(&record, uint32_t(body.size()));
  PutU32(&record, platform::Crc32(body));
  return record + body;
}

Status ReadJournal(const std::string& path, JournalContents* contents) {
  *contents = JournalContents{};
  const int fd = OpenFile(path, O_RDONLY);
  if (fd < 0) return errno == ENOENT ? Status::Ok() : PosixError("open " + path, errno);
  std::string bytes;
  Status s = ReadAll(fd, path, &bytes);
  ::close(fd);
  if (!s.ok()) return s;
  return Parse(path, bytes, contents);
}

Journal::Journal(std::string path, int fd, bool durable, JournalContents contents)
    : path_(std::move(path)), fd_(fd), durable_(durable), c_(std::move(contents)) {
  for (const JournalEntry& e : c_.waiting) waiting_bytes_ += e.data.size();
}

Journal::~Journal() { ::close(fd_); }

Status Journal::Open(const std::string& path, bool durable, std::string_view last_received,
                     const std::vector<JournalEntry>& migrated, std::unique_ptr<Journal>* journal,
                     std::string* note) {
  note->clear();
  int fd = OpenFile(path, O_RDWR);
  if (fd < 0 && errno != ENOENT) return PosixError("open " + path, errno);
  if (fd < 0) {
    // Made whole, with what an older pending file held, or not at all.
    const uint64_t id = NewId();
    std::string bytes = JournalRecordBytes(JournalRecord::kBase, 0, BasePayload(id, last_received));
    uint64_t seq = 0;
    for (const JournalEntry& e : migrated) {
      bytes += JournalRecordBytes(JournalRecord::kChange, ++seq, ChangePayload(e.received, e.data));
    }
    bool renamed = false;
    if (Status s = ReplaceFile(path, bytes, &renamed); !s.ok()) return s;
    fd = OpenFile(path, O_RDWR);
    if (fd < 0) return PosixError("open " + path, errno);
  }
  std::string bytes;
  JournalContents c;
  Status s = ReadAll(fd, path, &bytes);
  if (s.ok()) s = Parse(path, bytes, &c);
  if (s.ok() && c.id == 0) s = Damaged(path, 0, "manca (file vuoto)");
  if (s.ok() && c.torn_tail) {
    if (::ftruncate(fd, off_t(c.valid_bytes)) != 0) {
      s = PosixError("truncate " + path, errno);
    } else {
      *note = path + ": registrazione incompleta in coda all'offset " +
              std::to_string(c.valid_bytes) + " (" + std::to_string(bytes.size() - c.valid_bytes) +
              " byte) tolta; il sistema origine ha ancora quella modifica";
      c.torn_tail = false;
    }
  }
  if (!s.ok()) {
    ::close(fd);
    return s;
  }
  journal->reset(new Journal(path, fd, durable, std::move(c)));
  return Status::Ok();
}

Status Journal::Write(JournalRecord type, uint64_t sequence, std::string_view payload) {
  if (lost_) return Status::IoError(path_ + " non si riapre dopo il riavvio: " + lost_reason_);
  const std::string bytes = JournalRecordBytes(type, sequence, payload);
  Status s = WriteAllAt(fd_, path_, bytes, off_t(c_.valid_bytes));
  if (s.ok() && durable_ && ::fdatasync(fd_) != 0) s = PosixError("sync " + path_, errno);
  if (!s.ok()) {
    // A full disk may have taken part of the record: back to the last whole one.
    if (::ftruncate(fd_, off_t(c_.valid_bytes)) != 0) {
      return Status::IoError(s.message() + "; il file non torna all'offset " +
                             std::to_string(c_.valid_bytes));
    }
    return Status::IoError(s.message() +
                           "; il file torna all'ultima registrazione intera (offset " +
                           std::to_string(c_.valid_bytes) + ")");
  }
  c_.valid_bytes += bytes.size();
  return Status::Ok();
}

Status Journal::Append(std::string data, std::string received) {
  const uint64_t seq = c_.last_sequence + 1;
  if (Status s = Write(JournalRecord::kChange, seq, ChangePayload(received, data)); !s.ok()) {
    return s;
  }
  c_.last_sequence = seq;
  c_.last_received = data;
  waiting_bytes_ += data.size();
  c_.waiting.push_back(JournalEntry{seq, std::move(data), std::move(received)});
  return Status::Ok();
}

void Journal::Forget(uint64_t sequence, bool only_first) {
  while (!c_.waiting.empty() && c_.waiting.front().sequence <= sequence) {
    waiting_bytes_ -= c_.waiting.front().data.size();
    c_.waiting.pop_front();
    if (only_first) break;
  }
}

Status Journal::MarkApplied(uint64_t sequence) {
  if (Status s = Write(JournalRecord::kApplied, sequence, ""); !s.ok()) return s;
  Forget(sequence, false);
  // A restart that fails leaves the old file whole: it is tried again next time.
  if (c_.waiting.empty() && c_.valid_bytes > kRestartBytes) (void)Restart();
  return Status::Ok();
}

Status Journal::SetAside(uint64_t sequence) {
  if (c_.waiting.empty() || c_.waiting.front().sequence != sequence) {
    return Status::InvalidArgument(path_ + ": la modifica " + std::to_string(sequence) +
                                   " non \xE8 la prima in attesa");
  }
  if (Status s = Write(JournalRecord::kSetAside, sequence, ""); !s.ok()) return s;
  Forget(sequence, true);
  return Status::Ok();
}

Status Journal::Restart() {
  const std::string bytes = JournalRecordBytes(JournalRecord::kBase, c_.last_sequence,
                                               BasePayload(c_.id, c_.last_received));
  bool renamed = false;
  const Status s = ReplaceFile(path_, bytes, &renamed);
  if (!renamed) return s;
  const int fd = OpenFile(path_, O_RDWR);
  if (fd < 0) {
    // The descriptor held is the file replaced: nothing may be written to it any more.
    lost_ = true;
    lost_reason_ = PosixError("open " + path_, errno).message();
    return Status::IoError(lost_reason_);
  }
  ::close(fd_);
  fd_ = fd;
  c_.valid_bytes = bytes.size();
  return s;
}

}  // namespace torvan
