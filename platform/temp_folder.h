// A fresh folder, under /dev/shm when writable (databases sync every commit) or the system's
// temporary folder, removed with all it holds (read-only folders too) when the object goes.
#pragma once

#include <string>
#include <string_view>

namespace torvan::platform {

class TempFolder {
 public:
  // `prefix` names it ("torvan-links-XXXXXX"); a folder that cannot be made aborts the program.
  // `under`, when not empty, is the folder it is made in instead (a disk, where a sync costs).
  explicit TempFolder(std::string_view prefix = "torvan", std::string_view under = "");
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }    // without a trailing "/"
  std::string operator/(std::string_view name) const;  // path() + "/" + name

 private:
  std::string path_;
};

}  // namespace torvan::platform

namespace torvan::testing {

// The whole of a file; "" when it cannot be read.
std::string ReadText(const std::string& path);

inline bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace torvan::testing
