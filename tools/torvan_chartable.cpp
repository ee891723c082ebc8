// torvan-chartable: writes the character table file for Italian EBCDIC (CCSID 280)
// against Windows-1252 from the system's iconv tables, or checks an existing file.
//
//   torvan-chartable FILE           write FILE (data/TnC_TBL1.Tbl in the repository)
//   torvan-chartable --check FILE   exit 0 when FILE holds exactly what would be written
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "tools/char_table_gen.h"

int main(int argc, char** argv) {
  using namespace torvan;
  const bool check = argc == 3 && std::string_view(argv[1]) == "--check";
  if (argc != 2 && !check) {
    std::fprintf(stderr, "usage: torvan-chartable [--check] FILE\n");
    return 2;
  }
  const std::string path = argv[argc - 1];
  std::string bytes;
  Status s = tools::GenerateItalianTableFile(&bytes);
  if (!s.ok()) {
    std::fprintf(stderr, "torvan-chartable: %s\n", s.ToString().c_str());
    return 1;
  }
  if (check) {
    std::string existing;
    s = platform::ReadFile(path, &existing);
    if (!s.ok() || existing != bytes) {
      std::fprintf(stderr, "torvan-chartable: %s differs from the generated table%s%s\n",
                   path.c_str(), s.ok() ? "" : ": ", s.ok() ? "" : s.ToString().c_str());
      return 1;
    }
    return 0;
  }
  s = platform::WriteFileAtomic(path, bytes, 0644);
  if (!s.ok()) {
    std::fprintf(stderr, "torvan-chartable: %s\n", s.ToString().c_str());
    return 1;
  }
  return 0;
}
