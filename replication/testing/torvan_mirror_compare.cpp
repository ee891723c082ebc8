// torvan-mirror-compare: CompareFolder (mirror_compare.h) from the command line; one line per
// difference, exit 0 when alike, 1 when not, 2 when the comparison could not be made.
//   torvan-mirror-compare --dir TORVAN_DIR --host-exe TORVAN_HOST --host-data HOST_DIR
//                         [LIB/FILE ...]
#include <cstdio>
#include <string>
#include <vector>

#include "core/text.h"
#include "replication/testing/host_process.h"
#include "replication/testing/mirror_compare.h"

int main(int argc, char** argv) {
  using namespace torvan;
  std::string dir, host_exe, host_data;
  std::vector<std::string> only;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--dir" || a == "--host-exe" || a == "--host-data") && i + 1 < argc) {
      (a == "--dir" ? dir : a == "--host-exe" ? host_exe : host_data) = argv[++i];
    } else if (a.rfind("--", 0) != 0) {
      only.push_back(Utf8ToCp1252(a));
    } else {
      dir.clear();
      break;
    }
  }
  if (dir.empty() || host_exe.empty() || host_data.empty()) {
    std::fprintf(stderr,
                 "usage: torvan-mirror-compare --dir TORVAN_DIR --host-exe TORVAN_HOST "
                 "--host-data HOST_DIR [LIB/FILE ...]\n");
    return 2;
  }
  testing::HostProcess host(host_exe, host_data);
  std::vector<std::string> differences;
  Status s = testing::CompareFolder(dir, host, only, &differences);
  if (!s.ok()) {
    std::fprintf(stderr, "torvan-mirror-compare: %s\n", Cp1252ToUtf8(s.message()).c_str());
    return 2;
  }
  for (const std::string& d : differences) std::printf("%s\n", Cp1252ToUtf8(d).c_str());
  return differences.empty() ? 0 : 1;
}
