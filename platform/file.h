// Small file helpers with Status results: whole-file read and write, line append.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace torvan::platform {

// Reads the whole file. A missing file is Status::NotFound.
Status ReadFile(const std::string& path, std::string* contents);

// Replaces the file with `contents` through a temporary file and a rename, so a reader
// never sees half of it. `mode` is applied to the new file (0600 for files with secrets).
// `durable` flushes the contents to the disk before the rename and the folder after it, so
// the new file is what a crash leaves; files that are rebuilt from elsewhere anyway (the
// catalogue files, without Durevole) skip that cost.
Status WriteFileAtomic(const std::string& path, std::string_view contents, mode_t mode,
                       bool durable = true);

// Opens the file for appending (creating it with mode 0644), writes `bytes`, closes it.
// `durable`: the bytes are on the disk when it returns (and the folder's entry of a file it
// made): what a later step relies on (rows kept before their table is dropped).
Status AppendToFile(const std::string& path, std::string_view bytes, bool durable = false);

// Flushes a folder's entries (files made, renamed or removed in it) to the disk.
Status SyncFolder(const std::string& folder);
// The folder of a path ("." for a bare name).
std::string FolderOf(const std::string& path);

// A log file that lines are appended to, as AppendToFile does, but kept open from one line to
// the next for at most `keep_open`: a busy log costs a write per line, not an open and a
// close, and a file removed or renamed meanwhile (rotated by an operator) is opened again by
// its path, and made again, within that time. A failed write closes the file: the next line
// opens it again.
class AppendingFile {
 public:
  explicit AppendingFile(std::chrono::milliseconds keep_open = std::chrono::seconds(1))
      : keep_open_(keep_open) {}
  ~AppendingFile() { Close(); }
  AppendingFile(const AppendingFile&) = delete;
  AppendingFile& operator=(const AppendingFile&) = delete;

  Status Append(const std::string& path, std::string_view bytes);

 private:
  void Close();

  const std::chrono::milliseconds keep_open_;
  int fd_ = -1;
  std::string path_;
  std::chrono::steady_clock::time_point opened_;
};

// The lock of a base folder (flock on the folder itself), held while the object lives: one
// Torvan works in a folder at a time — `torvan run`, the window, and every command that
// changes the folder's files or tables.
class FolderLock {
 public:
  // Takes the lock of `folder`, without waiting. `*held_by_another` tells a lock another
  // process holds (the message then says "un altro Torvan lavora in questa cartella") from
  // a folder that cannot be opened.
  static Status Take(const std::string& folder, std::unique_ptr<FolderLock>* lock,
                     bool* held_by_another = nullptr);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
  explicit FolderLock(int fd) : fd_(fd) {}
  int fd_;
};

bool FileExists(const std::string& path);
Status RemoveFile(const std::string& path);

}  // namespace torvan::platform
