// torvan-mirror-compare: the comparer of mirror_compare.h from the command line, for the
// fault soak and for a person looking at a test's folders.
//
//   torvan-mirror-compare --dir TORVAN_DIR --host-exe TORVAN_HOST --host-data HOST_DIR
//                         [LIB/FILE ...]
//
// Compares every file of the catalogue in TORVAN_DIR that is replicated to SQL (or the
// files named) with the host's records (`TORVAN_HOST ctl --data HOST_DIR dump`), reading
// the mirror tables of the embedded SQLite engine, and counts the events not yet sent back
// of every database that sends them. Prints one line per difference. Exit status 0 when
// everything agrees, 1 when something differs, 2 when the comparison could not be made.
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "catalogue/catalogue.h"
#include "core/text.h"
#include "replication/testing/host_process.h"
#include "replication/testing/mirror_compare.h"

using namespace torvan;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: torvan-mirror-compare --dir TORVAN_DIR --host-exe TORVAN_HOST "
               "--host-data HOST_DIR [LIB/FILE ...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir, host_exe, host_data;
  std::set<std::string> only;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--dir" || a == "--host-exe" || a == "--host-data") && i + 1 < argc) {
      (a == "--dir" ? dir : a == "--host-exe" ? host_exe : host_data) = argv[++i];
    } else if (a.rfind("--", 0) == 0) {
      return Usage();
    } else {
      only.insert(Utf8ToCp1252(a));
    }
  }
  if (dir.empty() || host_exe.empty() || host_data.empty()) return Usage();

  Program program(Paths::InFolder(dir), platform::SystemClock(), platform::ConsolePump());
  Catalogue catalogue;
  Carica_Catalogo(program, catalogue);
  if (catalogue.N_File == 0) {
    std::fprintf(stderr, "torvan-mirror-compare: no catalogue in %s\n", dir.c_str());
    return 2;
  }
  testing::HostProcess host(host_exe, host_data);
  int differences = 0;
  std::set<std::string> databases_sent_back;
  for (int n = 1; n <= catalogue.N_File; ++n) {
    const FileEntry& f = catalogue.Tab_File[size_t(n)];
    const std::string name = f.Libreria + "/" + f.File;
    if (!f.As_Pc || (!only.empty() && only.count(name) == 0)) continue;
    if (f.Pc_As) databases_sent_back.insert(f.DataBase);
    testing::ProcessResult dump = host.Ctl({"dump", Cp1252ToUtf8(name)});
    std::vector<testing::HostRecord> records;
    if (dump.exit_code != 0 || !testing::ParseHostDump(dump.out, &records).ok()) {
      std::fprintf(stderr, "torvan-mirror-compare: dump of %s: %s%s\n", Cp1252ToUtf8(name).c_str(),
                   dump.err.c_str(), dump.out.c_str());
      return 2;
    }
    sql::ConnectionParams params;
    params.database = f.DataBase;
    params.base_folder = program.paths.base;
    std::unique_ptr<sql::Connection> c = sql::NewConnection(params);
    std::vector<testing::MirrorRow> rows;
    Status s = c->Open();
    if (s.ok()) s = testing::ReadMirror(*c, f.File, &rows);
    if (!s.ok()) {
      std::fprintf(stderr, "torvan-mirror-compare: %s: %s\n", Cp1252ToUtf8(name).c_str(),
                   Cp1252ToUtf8(s.message()).c_str());
      return 2;
    }
    int index_field = -1;
    for (const std::string& d :
         testing::CompareMirror(f, testing::FieldsOf(catalogue, n, &index_field), records, rows)) {
      std::printf("%s\n", Cp1252ToUtf8(d).c_str());
      ++differences;
    }
  }
  for (const std::string& db : databases_sent_back) {
    sql::ConnectionParams params;
    params.database = db;
    params.base_folder = program.paths.base;
    std::unique_ptr<sql::Connection> c = sql::NewConnection(params);
    int64_t unsent = 0;
    Status s = c->Open();
    if (s.ok()) s = testing::UnsentEvents(*c, &unsent);
    if (!s.ok()) {
      std::fprintf(stderr, "torvan-mirror-compare: %s: %s\n", Cp1252ToUtf8(db).c_str(),
                   Cp1252ToUtf8(s.message()).c_str());
      return 2;
    }
    if (unsent != 0) {
      std::printf("%s: %lld events not sent back\n", Cp1252ToUtf8(db).c_str(), (long long)unsent);
      ++differences;
    }
  }
  return differences == 0 ? 0 : 1;
}
