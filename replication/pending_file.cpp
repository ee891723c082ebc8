#include "replication/pending_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>

#include "platform/crc32.h"
#include "platform/file.h"

namespace torvan {

namespace {

constexpr char kMagic[4] = {'T', 'n', 'P', '1'};
constexpr size_t kHeader = 4 + 8 + 4 + 4;

// Appends to a buffer it is given, so that a slot is made in one place without copies.
class Writer {
 public:
  explicit Writer(std::string* out) : out_(*out) {}
  void U8(uint8_t v) { out_.push_back(char(v)); }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(char((v >> (8 * i)) & 0xFF));
  }
  void U64(uint64_t v) {
    for (int i = 0; i < 8; ++i) out_.push_back(char((v >> (8 * i)) & 0xFF));
  }
  void Bytes(std::string_view b) {
    U32(uint32_t(b.size()));
    out_.append(b);
  }

 private:
  std::string& out_;
};

class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  bool U8(uint8_t* v) {
    if (in_.size() < 1) return false;
    *v = uint8_t(in_[0]);
    in_.remove_prefix(1);
    return true;
  }
  bool U32(uint32_t* v) {
    if (in_.size() < 4) return false;
    *v = 0;
    for (int i = 0; i < 4; ++i) *v |= uint32_t(uint8_t(in_[size_t(i)])) << (8 * i);
    in_.remove_prefix(4);
    return true;
  }
  bool U64(uint64_t* v) {
    if (in_.size() < 8) return false;
    *v = 0;
    for (int i = 0; i < 8; ++i) *v |= uint64_t(uint8_t(in_[size_t(i)])) << (8 * i);
    in_.remove_prefix(8);
    return true;
  }
  bool Bytes(std::string* b) {
    uint32_t n = 0;
    if (!U32(&n) || in_.size() < n) return false;
    b->assign(in_.substr(0, n));
    in_.remove_prefix(n);
    return true;
  }
  bool AtEnd() const { return in_.empty(); }

 private:
  std::string_view in_;
};

// Puts in `slot` the slot of `generation` whose payload is there already, from kHeader on:
// the magic, the generation, the payload's length and the CRC of those two and the payload.
void FillSlotHeader(uint64_t generation, std::string* slot) {
  std::string head(kMagic, 4);
  Writer w(&head);
  w.U64(generation);
  w.U32(uint32_t(slot->size() - kHeader));
  const uint32_t crc = platform::Crc32Extend(platform::Crc32(std::string_view(head).substr(4)),
                                             std::string_view(*slot).substr(kHeader));
  w.U32(crc);
  slot->replace(0, kHeader, head);
}

// The state of one slot's bytes; false when the slot is empty, torn or damaged.
bool ParseSlot(std::string_view bytes, uint64_t* generation, PendingState* state) {
  if (bytes.size() < kHeader || std::memcmp(bytes.data(), kMagic, 4) != 0) return false;
  Reader r(bytes.substr(4));
  uint32_t length = 0, crc = 0;
  if (!r.U64(generation) || !r.U32(&length) || !r.U32(&crc)) return false;
  if (length > kPendingSlotSize - kHeader || bytes.size() < kHeader + length) return false;
  const uint32_t covered =
      platform::Crc32Extend(platform::Crc32(bytes.substr(4, 12)), bytes.substr(kHeader, length));
  if (covered != crc) return false;
  return DecodePendingState(bytes.substr(kHeader, length), state);
}

Status ReadSlots(int fd, const std::string& path, uint64_t* generation, int* newest,
                 PendingState* state) {
  *generation = 0;
  *newest = 1;
  *state = PendingState{};
  bool found = false;
  std::string buf(kPendingSlotSize, '\0');
  for (int slot = 0; slot < 2; ++slot) {
    ssize_t n;
    do {
      n = ::pread(fd, buf.data(), buf.size(), off_t(slot) * off_t(kPendingSlotSize));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return PosixError("read " + path, errno);
    uint64_t g = 0;
    PendingState s;
    if (ParseSlot(std::string_view(buf.data(), size_t(n)), &g, &s) && (!found || g > *generation)) {
      found = true;
      *generation = g;
      *newest = slot;
      *state = std::move(s);
    }
  }
  return Status::Ok();
}

}  // namespace

std::string EncodePendingState(const PendingState& state) {
  std::string out;
  AppendPendingState(state, &out);
  return out;
}

void AppendPendingState(const PendingState& state, std::string* out) {
  Writer w(out);
  w.U8(uint8_t((state.held ? 1 : 0) | (state.last_applied ? 2 : 0)));
  if (state.held) {
    w.Bytes(state.held->data);
    w.Bytes(state.held->received);
    w.Bytes(state.held->last_error);
    w.U32(uint32_t(state.held->attempts));
  }
  if (state.last_applied) w.Bytes(*state.last_applied);
  w.U32(uint32_t(state.in_flight.size()));
  for (const InFlightEvent& e : state.in_flight) {
    w.U32(uint32_t(e.database));
    w.U64(uint64_t(e.master_rrn));
    w.Bytes(e.file);
    w.U64(uint64_t(e.progr));
    w.U32(e.statement_crc);
  }
  // The events sent follow; a state written before they were kept ends here.
  if (!state.sent.empty()) {
    w.U32(uint32_t(state.sent.size()));
    for (const SentEvent& e : state.sent) {
      w.U32(uint32_t(e.database));
      w.Bytes(e.file);
      w.U64(uint64_t(e.rrn));
      w.U64(uint64_t(e.idx));
      w.U8(uint8_t(e.event));
      w.U8(uint8_t(e.taken));
      w.U64(uint64_t(e.sent_ms));
      w.U8(uint8_t((e.queue_empty_since ? 1 : 0) | (e.after_clear ? 2 : 0) | (e.torvan ? 4 : 0)));
      w.Bytes(e.values);
    }
  }
}

bool DecodePendingState(std::string_view payload, PendingState* state) {
  Reader r(payload);
  PendingState s;
  uint8_t flags = 0;
  if (!r.U8(&flags) || flags > 3) return false;
  if (flags & 1) {
    HeldChange h;
    uint32_t attempts = 0;
    if (!r.Bytes(&h.data) || !r.Bytes(&h.received) || !r.Bytes(&h.last_error) ||
        !r.U32(&attempts)) {
      return false;
    }
    h.attempts = int32_t(attempts);
    s.held = std::move(h);
  }
  if (flags & 2) {
    std::string last;
    if (!r.Bytes(&last)) return false;
    s.last_applied = std::move(last);
  }
  uint32_t count = 0;
  if (!r.U32(&count) || count > payload.size()) return false;
  for (uint32_t i = 0; i < count; ++i) {
    InFlightEvent e;
    uint32_t db = 0;
    uint64_t rrn = 0, progr = 0;
    if (!r.U32(&db) || !r.U64(&rrn) || !r.Bytes(&e.file) || !r.U64(&progr) ||
        !r.U32(&e.statement_crc)) {
      return false;
    }
    e.database = int32_t(db);
    e.master_rrn = int64_t(rrn);
    e.progr = int64_t(progr);
    s.in_flight.push_back(std::move(e));
  }
  if (!r.AtEnd()) {
    if (!r.U32(&count) || count == 0 || count > payload.size()) return false;
    for (uint32_t i = 0; i < count; ++i) {
      SentEvent e;
      uint32_t db = 0;
      uint64_t rrn = 0, idx = 0, ms = 0;
      uint8_t event = 0, taken = 0, empty = 0;
      if (!r.U32(&db) || !r.Bytes(&e.file) || !r.U64(&rrn) || !r.U64(&idx) || !r.U8(&event) ||
          !r.U8(&taken) || !r.U64(&ms) || !r.U8(&empty) || empty > 7 || !r.Bytes(&e.values)) {
        return false;
      }
      e.database = int32_t(db);
      e.rrn = int64_t(rrn);
      e.idx = int64_t(idx);
      e.event = char(event);
      e.taken = char(taken);
      e.sent_ms = int64_t(ms);
      e.queue_empty_since = (empty & 1) != 0;
      e.after_clear = (empty & 2) != 0;
      e.torvan = (empty & 4) != 0;
      s.sent.push_back(std::move(e));
    }
    if (!r.AtEnd()) return false;
  }
  *state = std::move(s);
  return true;
}

Status PendingFile::Open(const std::string& path, bool durable, std::unique_ptr<PendingFile>* file,
                         PendingState* state) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return PosixError("open " + path, errno);
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int e = errno;
    ::close(fd);
    if (e == EWOULDBLOCK) {
      return Status::IoError(path +
                             " \xE8 in uso da un altro Torvan che lavora in questa cartella");
    }
    return PosixError("lock " + path, e);
  }
  std::unique_ptr<PendingFile> f(new PendingFile(path, fd, durable));
  Status s = ReadSlots(fd, path, &f->generation_, &f->newest_slot_, state);
  if (!s.ok()) return s;
  *file = std::move(f);
  return Status::Ok();
}

PendingFile::~PendingFile() {
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
}

Status PendingFile::Write(const PendingState& state) {
  // One buffer for every write: the state of a busy return is rewritten each batch.
  std::string& bytes = buffer_;
  bytes.assign(kHeader, '\0');
  AppendPendingState(state, &bytes);
  if (bytes.size() > kPendingSlotSize) {
    return Status::InvalidArgument("write " + path_ + ": " +
                                   std::to_string(bytes.size() - kHeader) +
                                   " bytes do not fit a slot");
  }
  const int slot = 1 - newest_slot_;
  FillSlotHeader(generation_ + 1, &bytes);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                               off_t(slot) * off_t(kPendingSlotSize) + off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return PosixError("write " + path_, errno);
    done += size_t(n);
  }
  if (durable_ && ::fdatasync(fd_) != 0) return PosixError("sync " + path_, errno);
  // A file just made is found after a crash only once its folder's entry is on the disk.
  if (durable_ && !folder_synced_) {
    if (Status s = platform::SyncFolder(platform::FolderOf(path_)); !s.ok()) return s;
    folder_synced_ = true;
  }
  ++generation_;
  newest_slot_ = slot;
  return Status::Ok();
}

Status ReadPendingState(const std::string& path, PendingState* state) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    *state = PendingState{};
    return errno == ENOENT ? Status::Ok() : PosixError("open " + path, errno);
  }
  uint64_t generation = 0;
  int newest = 0;
  Status s = ReadSlots(fd, path, &generation, &newest, state);
  ::close(fd);
  return s;
}

bool PendingFileInUse(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return locked;
}

}  // namespace torvan
