#include "platform/temp_folder.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/file.h"

namespace torvan::platform {

namespace fs = std::filesystem;

TempFolder::TempFolder(std::string_view prefix, std::string_view under) {
  std::error_code ec;
  const fs::path base = !under.empty() ? fs::path(under)
                        : fs::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0
                            ? fs::path("/dev/shm")
                            : fs::temp_directory_path();
  std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror(("mkdtemp " + pattern).c_str());
    std::abort();
  }
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  for (auto it = fs::recursive_directory_iterator(path_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path_, ignored);
}

std::string TempFolder::operator/(std::string_view name) const {
  return path_ + "/" + std::string(name);
}

}  // namespace torvan::platform

namespace torvan::testing {

std::string ReadText(const std::string& path) {
  std::string text;
  (void)platform::ReadFile(path, &text);
  return text;
}

}  // namespace torvan::testing
