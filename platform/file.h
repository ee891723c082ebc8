// Small file helpers with Status results: whole-file read and write, line append.
#pragma once

#include <sys/types.h>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace torvan::platform {

// Reads the whole file. A missing file is Status::NotFound.
Status ReadFile(const std::string& path, std::string* contents);

// Replaces the file with `contents` through a temporary file and a rename, so a reader
// never sees half of it. `mode` is applied to the new file (0600 for files with secrets).
// `durable` flushes the contents to the disk before the rename; files that are rebuilt
// from elsewhere anyway (the catalogue files) skip that cost.
Status WriteFileAtomic(const std::string& path, std::string_view contents, mode_t mode,
                       bool durable = true);

// Opens the file for appending (creating it with mode 0644), writes `bytes`, closes it.
Status AppendToFile(const std::string& path, std::string_view bytes);

bool FileExists(const std::string& path);
Status RemoveFile(const std::string& path);

}  // namespace torvan::platform
