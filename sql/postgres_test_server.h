// For tests and benchmarks: a PostgreSQL server of their own, made with initdb in a
// temporary folder and run by pg_ctl on a free port of 127.0.0.1, its socket in that folder.
//
// The server programs are found with `pg_config --bindir`, else in the Debian folder
// /usr/lib/postgresql/<version>/bin. They refuse to run as root: when the process is root,
// they run as "nobody" (setpriv), the folder handed to that user. A test that finds no
// programs says SKIP with the reason (Available(), WhyNot()).
//
// The superuser is "torvan" with the password "Segreta1" (the sample host's): local socket logins
// are trusted, TCP logins need the password (scram-sha-256), so a wrong password is refused as it
// would be at an installation.
#pragma once

#include <arpa/inet.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/temp_folder.h"
#include "sql/connection.h"

namespace torvan::sql::testing {

inline constexpr char kPgUser[] = "torvan";
inline constexpr char kPgPassword[] = "Segreta1";  // the sample host names it

class PostgresServer {
 public:
  enum class StopMode { kFast, kImmediate };

  // The one server of this process, started at the first call; stopped when the process
  // ends. nullptr-free: check Available().
  static PostgresServer& Shared() {
    static PostgresServer server;
    return server;
  }

  bool Available() const { return why_not_.empty(); }
  const std::string& WhyNot() const { return why_not_; }
  int port() const { return port_; }
  const std::string& folder() const { return folder_.path(); }

  // Connection parameters of database `name` over TCP with the right password.
  ConnectionParams Params(const std::string& name) const {
    ConnectionParams p;
    p.engine = Engine::kPostgres;
    p.database = name;
    p.server = "127.0.0.1";
    p.user = kPgUser;
    p.password = kPgPassword;
    p.odbc_extra = "port=" + std::to_string(port_) + ";";
    p.busy_timeout_ms = 1000;
    p.login_timeout_seconds = 5;
    return p;
  }

  // A new empty UTF-8 database (dropped first when it exists). False with `*why` filled on
  // failure.
  bool CreateDatabase(const std::string& name, std::string* why = nullptr) {
    return Admin("DROP DATABASE IF EXISTS \"" + name + "\" WITH (FORCE)", why) &&
           Admin("CREATE DATABASE \"" + name + "\" ENCODING 'UTF8' TEMPLATE template0", why);
  }

  // A statement run as the superuser on database `db` through the socket.
  bool Admin(const std::string& sql, std::string* why = nullptr,
             const std::string& db = "postgres") {
    const std::string info = "host=" + folder_.path() + " port=" + std::to_string(port_) +
                             " user=" + kPgUser + " dbname=" + db;
    PGconn* c = PQconnectdb(info.c_str());
    bool ok = PQstatus(c) == CONNECTION_OK;
    if (ok) {
      PQsetNoticeProcessor(
          c, [](void*, const char*) {}, nullptr);
      PGresult* r = PQexec(c, sql.c_str());
      ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
      if (!ok && why) *why = PQresultErrorMessage(r);
      PQclear(r);
    } else if (why) {
      *why = PQerrorMessage(c);
    }
    PQfinish(c);
    return ok;
  }

  bool Stop(StopMode mode) {
    return Run(Ctl() + " -m " + (mode == StopMode::kFast ? "fast" : "immediate") + " -w stop");
  }
  bool Start() {
    return Run(Ctl() + " -w -t 60 -l " + folder_.path() + "/server.log -o \"-p " +
               std::to_string(port_) + " -k " + folder_.path() +
               " -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=40\" start");
  }

  ~PostgresServer() {
    if (started_) (void)Stop(StopMode::kImmediate);
  }

 private:
  PostgresServer() : folder_("torvan-pg") {
    bin_ = FindBin();
    if (bin_.empty()) {
      why_not_ =
          "the PostgreSQL server programs (initdb, pg_ctl) are not installed: "
          "scripts/install-deps installs them";
      return;
    }
    if (getuid() == 0) {
      as_ = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
      std::filesystem::permissions(folder_.path(), std::filesystem::perms::owner_all);
      if (chown(folder_.path().c_str(), 65534, 65534) != 0) {
        why_not_ = "cannot give the server's folder to nobody";
        return;
      }
    }
    {
      std::ofstream pw(folder_.path() + "/pw");
      pw << kPgPassword << "\n";
    }
    if (getuid() == 0 && chown((folder_.path() + "/pw").c_str(), 65534, 65534) != 0) {
      why_not_ = "cannot give the password file to nobody";
      return;
    }
    port_ = FreePort();
    if (!Run(bin_ + "/initdb -D " + folder_.path() + "/data -U " + kPgUser +
             " --pwfile=" + folder_.path() +
             "/pw -E UTF8 --locale=C --auth-local=trust "
             "--auth-host=scram-sha-256 -N")) {
      why_not_ = "initdb failed: see " + folder_.path() + "/run.log";
      return;
    }
    if (!Start()) {
      why_not_ = "the server did not start: see " + folder_.path() + "/server.log";
      return;
    }
    started_ = true;
  }

  std::string Ctl() const { return bin_ + "/pg_ctl -D " + folder_.path() + "/data"; }

  bool Run(const std::string& command) const {
    const std::string line = as_ + command + " >>" + folder_.path() + "/run.log 2>&1";
    return std::system(line.c_str()) == 0;
  }

  static std::string FindBin() {
    namespace fs = std::filesystem;
    std::string bin;
    if (FILE* p = popen("pg_config --bindir 2>/dev/null", "r")) {
      char buf[512];
      if (fgets(buf, sizeof buf, p)) bin = buf;
      pclose(p);
      while (!bin.empty() && (bin.back() == '\n' || bin.back() == ' ')) bin.pop_back();
    }
    if (!bin.empty() && fs::exists(bin + "/initdb") && fs::exists(bin + "/pg_ctl")) return bin;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/usr/lib/postgresql", ec)) {
      const std::string b = e.path().string() + "/bin";
      if (fs::exists(b + "/initdb") && fs::exists(b + "/pg_ctl")) return b;
    }
    return "";
  }

  static int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
      port = ntohs(a.sin_port);
    }
    close(fd);
    return port;
  }

  platform::TempFolder folder_;
  std::string bin_, as_, why_not_;
  int port_ = 0;
  bool started_ = false;
};

#define SKIP_WITHOUT_POSTGRES()                                                \
  if (!::torvan::sql::testing::PostgresServer::Shared().Available()) {         \
    GTEST_SKIP() << ::torvan::sql::testing::PostgresServer::Shared().WhyNot(); \
  }

}  // namespace torvan::sql::testing
