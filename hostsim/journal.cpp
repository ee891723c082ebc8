#include "hostsim/journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

#include "platform/crc32.h"
#include "platform/file.h"

namespace torvan::hostsim {

namespace {

constexpr size_t kCrcDigits = 8;

bool ParseCrc(std::string_view hex, uint32_t* crc) {
  if (hex.size() != kCrcDigits) return false;
  uint32_t v = 0;
  for (char c : hex) {
    int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
    if (d < 0) return false;
    v = v << 4 | uint32_t(d);
  }
  *crc = v;
  return true;
}

}  // namespace

uint32_t Crc32(std::string_view bytes) { return platform::Crc32(bytes); }

Journal::~Journal() {
  if (fd_ >= 0) ::close(fd_);
}

Status Journal::Replay(const std::string& path,
                       const std::function<Status(std::string_view entry)>& apply,
                       size_t* dropped) {
  *dropped = 0;
  std::string contents;
  Status s = platform::ReadFile(path, &contents);
  if (s.code() == Status::Code::kNotFound) return Status::Ok();
  if (!s.ok()) return s;
  size_t pos = 0;
  while (pos < contents.size()) {
    size_t end = contents.find('\n', pos);
    if (end == std::string::npos) break;  // torn: the write of this line never finished
    std::string_view line(contents.data() + pos, end - pos);
    uint32_t crc = 0;
    if (line.size() <= kCrcDigits || line[kCrcDigits] != ' ' ||
        !ParseCrc(line.substr(0, kCrcDigits), &crc)) {
      break;
    }
    std::string_view entry = line.substr(kCrcDigits + 1);
    if (Crc32(entry) != crc) break;
    s = apply(entry);
    if (!s.ok()) return s;
    pos = end + 1;
  }
  *dropped = contents.size() - pos;
  return Status::Ok();
}

Status Journal::Start(const std::string& path) {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  pending_.clear();
  size_ = 0;
  path_ = path;
  Status s = platform::WriteFileAtomic(path, "", 0644);
  if (!s.ok()) return s;
  fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd_ < 0) return PosixError("open " + path, errno);
  return Status::Ok();
}

void Journal::Add(std::string_view entry) {
  char crc[kCrcDigits + 2];
  std::snprintf(crc, sizeof crc, "%08x ", Crc32(entry));
  pending_.append(crc, kCrcDigits + 1);
  pending_.append(entry);
  pending_.push_back('\n');
}

Status Journal::Flush(bool sync) {
  if (fd_ < 0) return Status::IoError("journal " + path_ + " is not open");
  size_t written = 0;
  while (written < pending_.size()) {
    ssize_t n = ::write(fd_, pending_.data() + written, pending_.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      // What did reach the file stays there; the rest stays buffered, so a later flush
      // completes the line it cut instead of starting it again.
      Status s = PosixError("write " + path_, errno);
      pending_.erase(0, written);
      return s;
    }
    written += size_t(n);
    size_ += uint64_t(n);
  }
  pending_.clear();
  if (sync && ::fdatasync(fd_) != 0) return PosixError("fdatasync " + path_, errno);
  return Status::Ok();
}

}  // namespace torvan::hostsim
