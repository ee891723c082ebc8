// TempFolder: a fresh folder that is removed, with everything in it, when the object goes.
//
// For tests, benchmarks and tools that need a folder of their own (a base folder, a host's
// data folder, a database folder). The folder is made under /dev/shm when the system has
// one that can be written (databases sync every commit and should not wait for a disk),
// otherwise under the system's temporary folder. Removal restores write permission first,
// so a test may leave a read-only folder behind.
#pragma once

#include <string>
#include <string_view>

namespace torvan::platform {

class TempFolder {
 public:
  // `prefix` names the folder ("torvan-links-XXXXXX"); a folder that cannot be made is a
  // fatal error of the program (there is nothing a test could do without it).
  explicit TempFolder(std::string_view prefix = "torvan");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder, without a trailing "/".
  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string operator/(std::string_view name) const;

 private:
  std::string path_;
};

}  // namespace torvan::platform
