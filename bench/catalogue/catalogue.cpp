// bench/catalogue: loading a catalogue of 200 files x 50 fields (over 10,000 requests)
// from torvan-host on loopback, with Torvan's link start (no FTP step), against the raw
// floor: a plain blocking client making the same listing requests to the same server.
//
// Prints both request rates, their ratio, and the whole load's time.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/text.h"
#include "hostlink/char_table.h"
#include "hostlink/frame.h"
#include "hostsim/server.h"
#include "links/link_control.h"
#include "links/runtime.h"
#include "platform/event_pump.h"

namespace fs = std::filesystem;
using namespace torvan;

namespace {

constexpr int kFiles = 200;
constexpr int kFields = 50;

void WriteHost(const std::string& dir) {
  fs::create_directories(dir + "/fields");
  std::ofstream(dir + "/host.conf") << "user = UTENTE\npassword = TORVAN\nlibrary = TM\n"
                                       "listen = 127.0.0.1\nftp_port = 2121\nport = -1\n";
  std::ofstream(dir + "/databases.txt")
      << "GESTIONALE | Gestionale | SQLSRV01 | 127.0.0.1 | torvan | Segreta1 |\n"
         "ARCHIVIO | Archivio | SQLSRV01 | 127.0.0.1 | torvan | Segreta1 |\n";
  std::ofstream files(dir + "/files.txt");
  for (int f = 1; f <= kFiles; ++f) {
    std::string name = "F" + ZeroPad(f, 5);
    files << "BENCH | " << name << " | File " << f
          << " | BENCH | TRG | S | N | N | GESTIONALE | | \n";
    std::ofstream fields(dir + "/fields/BENCH." + name + ".txt");
    for (int i = 1; i <= kFields; ++i) {
      fields << "C" << ZeroPad(i, 4) << " | Campo " << i << " | A | 8 | | " << (8 * i - 7)
             << " | 8 |\n";
    }
  }
}

// The floor: the same listing requests made by a blocking client, one at a time.
double RawRequestsPerSecond(int port, const hostlink::CharTables& tables, int* requests) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 0;
  auto read_n = [&](size_t n, std::string* out) {
    out->resize(n);
    size_t got = 0;
    while (got < n) {
      ssize_t r = recv(fd, out->data() + got, n - got, 0);
      if (r <= 0) return false;
      got += size_t(r);
    }
    return true;
  };
  std::string header, data;
  read_n(6, &header);  // greeting
  auto ask = [&](char code, const std::string& body) {
    std::string frame;
    (void)hostlink::BuildRequest(code, body, &frame);
    frame = tables.ToHost(frame);
    send(fd, frame.data(), frame.size(), 0);
    ++*requests;
    if (!read_n(6, &header)) return false;
    int32_t length = 0;
    if (!hostlink::ParseZonedLength(header.substr(1), &length).ok()) return false;
    if (length > 0 && !read_n(size_t(length), &data)) return false;
    return tables.HostToPc(uint8_t(header[0])) == '0';
  };
  auto start = std::chrono::steady_clock::now();
  for (std::string flag = "S"; ask('3', flag); flag = "N") {
  }
  for (std::string flag = "S"; ask('1', flag); flag = "N") {
  }
  for (int f = 1; f <= kFiles; ++f) {
    std::string key = PadRight("BENCH", 10) + PadRight("F" + ZeroPad(f, 5), 10);
    for (std::string flag = "S"; ask('2', flag + key); flag = "N") {
    }
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  close(fd);
  return *requests / seconds;
}

}  // namespace

int main() {
  std::string root = (fs::temp_directory_path() / "torvan-bench-catalogue").string();
  fs::remove_all(root);
  std::string host_dir = root + "/host", pc_dir = root + "/pc";
  fs::create_directories(pc_dir);
  WriteHost(host_dir);
  fs::copy_file(TORVAN_CHAR_TABLE, pc_dir + "/TnC_TBL1.Tbl");

  hostsim::ServerOptions options;
  options.data_dir = host_dir;
  options.listen = "127.0.0.1";
  options.ftp_port = -1;
  options.port = 0;
  options.print_ports = false;
  hostsim::Server server(options);
  std::string notes;
  Status s = server.Start(&notes);
  if (!s.ok()) {
    std::fprintf(stderr, "torvan-host: %s\n", s.message().c_str());
    return 1;
  }
  std::thread serving([&] { (void)server.Run(); });
  const int port = server.host_ports().front();

  hostlink::CharTables tables;
  (void)hostlink::LoadCharTables(TORVAN_CHAR_TABLE, &tables);
  int raw_requests = 0;
  double raw_rate = RawRequestsPerSecond(port, tables, &raw_requests);

  Program program(Paths::InFolder(pc_dir), platform::SystemClock(), platform::ConsolePump());
  program.settings.parametri.Nome_Connessione = "127.0.0.1";
  program.settings.parametri.Porta = port;
  program.settings.parametri.Attesa_Sincronizz = 2;
  Runtime rt(program);
  rt.link.after_load = std::chrono::milliseconds(0);
  auto start = std::chrono::steady_clock::now();
  bool up = Server_AS_Start(rt);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Server_AS_Stop(rt);
  // The floor again, after the load: the faster of the two, so a busy moment of the
  // machine does not flatter Torvan.
  int again = 0;
  raw_rate = std::max(raw_rate, RawRequestsPerSecond(port, tables, &again));
  server.Stop();
  serving.join();

  int requests = 1 + raw_requests;  // the same listings plus the time exchange
  double rate = requests / seconds;
  std::printf("catalogue: %d files x %d fields, %d requests\n", kFiles, kFields, requests);
  std::printf("torvan load:  %s in %.3f s, %.0f requests/s (%d files loaded)\n",
              up ? "ok" : "FAILED", seconds, rate, rt.catalogue.N_File);
  std::printf("raw floor:    %.0f requests/s\n", raw_rate);
  std::printf("ratio:        %.2f (target >= 0.5; whole load target < 2 s)\n", rate / raw_rate);
  fs::remove_all(root);
  return up && rt.catalogue.N_File == kFiles ? 0 : 1;
}
