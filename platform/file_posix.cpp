#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file.h"

namespace torvan::platform {

namespace {

Status WriteAll(int fd, std::string_view bytes, const std::string& path) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return PosixError("write " + path, errno);
    }
    bytes.remove_prefix(size_t(n));
  }
  return Status::Ok();
}

}  // namespace

Status ReadFile(const std::string& path, std::string* contents) {
  contents->clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return PosixError("open " + path, errno);
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      Status s = PosixError("read " + path, errno);
      ::close(fd);
      return s;
    }
    if (n == 0) break;
    contents->append(buf, size_t(n));
  }
  ::close(fd);
  return Status::Ok();
}

Status WriteFileAtomic(const std::string& path, std::string_view contents, mode_t mode,
                       bool durable) {
  std::string tmp = path + ".tmp";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) return PosixError("open " + tmp, errno);
  ::fchmod(fd, mode);  // the umask must not widen or narrow what the caller asked for
  Status s = WriteAll(fd, contents, tmp);
  if (s.ok() && durable && ::fsync(fd) != 0) s = PosixError("fsync " + tmp, errno);
  if (::close(fd) != 0 && s.ok()) s = PosixError("close " + tmp, errno);
  if (s.ok() && ::rename(tmp.c_str(), path.c_str()) != 0) s = PosixError("rename " + path, errno);
  if (!s.ok()) ::unlink(tmp.c_str());
  if (s.ok() && durable) s = SyncFolder(FolderOf(path));
  return s;
}

Status AppendToFile(const std::string& path, std::string_view bytes, bool durable) {
  const bool existed = durable && FileExists(path);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return PosixError("open " + path, errno);
  Status s = WriteAll(fd, bytes, path);
  if (s.ok() && durable && ::fdatasync(fd) != 0) s = PosixError("sync " + path, errno);
  if (::close(fd) != 0 && s.ok()) s = PosixError("close " + path, errno);
  if (s.ok() && durable && !existed) s = SyncFolder(FolderOf(path));
  return s;
}

Status SyncFolder(const std::string& folder) {
  int fd;
  do {
    fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return PosixError("open " + folder, errno);
  Status s;
  if (::fsync(fd) != 0) s = PosixError("sync " + folder, errno);
  ::close(fd);
  return s;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

Status AppendingFile::Append(const std::string& path, std::string_view bytes) {
  const auto now = std::chrono::steady_clock::now();
  if (fd_ >= 0 && (path != path_ || now - opened_ >= keep_open_)) Close();
  if (fd_ < 0) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) return PosixError("open " + path, errno);
    path_ = path;
    opened_ = now;
  }
  Status s = WriteAll(fd_, bytes, path);
  if (!s.ok()) Close();
  return s;
}

void AppendingFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

Status FolderLock::Take(const std::string& folder, std::unique_ptr<FolderLock>* lock,
                        bool* held_by_another) {
  if (held_by_another != nullptr) *held_by_another = false;
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return PosixError("open " + folder, errno);
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) {
      if (held_by_another != nullptr) *held_by_another = true;
      return Status::IoError(folder + ": un altro Torvan lavora in questa cartella");
    }
    return PosixError("flock " + folder, error);
  }
  lock->reset(new FolderLock(fd));
  return Status::Ok();
}

FolderLock::~FolderLock() { ::close(fd_); }  // the lock goes with it

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

Status RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return PosixError("remove " + path, errno);
  return Status::Ok();
}

}  // namespace torvan::platform
