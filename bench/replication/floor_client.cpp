#include "bench/replication/floor_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "hostlink/frame.h"

namespace torvan::bench {

namespace {

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "floor: %s\n", what.c_str());
  std::exit(1);
}

}  // namespace

FloorClient::FloorClient(int port, const std::string& char_table, const std::string& database) {
  if (!hostlink::LoadCharTables(char_table, &tables_).ok()) Die("no character table");
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Die("connect");
  char greeting[6];
  ReadExactly(greeting, sizeof greeting);
  if (database.empty()) return;  // the caller reaches its database itself
  if (sqlite3_open_v2(database.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                      nullptr) != SQLITE_OK ||
      sqlite3_exec(db_,
                   "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL; "
                   "PRAGMA recursive_triggers=OFF",
                   nullptr, nullptr, nullptr) != SQLITE_OK) {
    Die(std::string("sqlite: ") + sqlite3_errmsg(db_));
  }
}

FloorClient::~FloorClient() {
  for (sqlite3_stmt* s : statements_) sqlite3_finalize(s);
  sqlite3_close(db_);
  ::close(fd_);
}

void FloorClient::ReadExactly(char* to, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::recv(fd_, to + got, n - got, 0);
    if (r <= 0) Die("the host closed the connection");
    got += size_t(r);
  }
}

bool FloorClient::Exchange(char code, const std::string& data, std::string* reply_data) {
  char head[7];
  std::snprintf(head, sizeof head, "%c%05zu", code, data.size());
  const std::string frame = tables_.ToHost(std::string(head) + data);
  size_t sent = 0;
  while (sent < frame.size()) {
    const ssize_t r = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (r <= 0) Die("send");
    sent += size_t(r);
  }
  char header[6];
  ReadExactly(header, sizeof header);
  int32_t length = 0;
  if (!hostlink::ParseZonedLength(std::string_view(header + 1, 5), &length).ok()) {
    Die("a reply length that is not one");
  }
  reply_data->resize(size_t(length));
  if (length > 0) ReadExactly(reply_data->data(), size_t(length));
  return tables_.HostToPc(uint8_t(header[0])) == '0';
}

sqlite3_stmt* FloorClient::Prepare(const std::string& sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) !=
      SQLITE_OK) {
    Die(std::string("prepare: ") + sqlite3_errmsg(db_) + ": " + sql);
  }
  statements_.push_back(s);
  return s;
}

void FloorClient::Step(sqlite3_stmt* s) {
  int rc;
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) Die(std::string("step: ") + sqlite3_errmsg(db_));
  sqlite3_reset(s);
}

PgSession::PgSession(int port, const std::string& database) {
  const std::string info = "host=127.0.0.1 port=" + std::to_string(port) + " dbname=" + database +
                           " user=torvan password=Segreta1 client_encoding=UTF8";
  db_ = PQconnectdb(info.c_str());
  if (PQstatus(db_) != CONNECTION_OK) Die(std::string("libpq: ") + PQerrorMessage(db_));
}

PgSession::~PgSession() {
  PQclear(result_);
  PQfinish(db_);
}

void PgSession::Check(PGresult* r) {
  PQclear(result_);
  result_ = r;
  const ExecStatusType st = PQresultStatus(r);
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
    Die(std::string("libpq: ") + PQerrorMessage(db_));
  }
}

void PgSession::Prepare(const std::string& name, const std::string& sql, int params) {
  Check(PQprepare(db_, name.c_str(), sql.c_str(), params, nullptr));
}

void PgSession::Run(const std::string& name, const std::vector<std::string>& values) {
  values_.clear();
  for (const std::string& v : values) values_.push_back(v.c_str());
  Check(
      PQexecPrepared(db_, name.c_str(), int(values_.size()), values_.data(), nullptr, nullptr, 0));
}

void PgSession::Exec(const std::string& sql) { Check(PQexec(db_, sql.c_str())); }

}  // namespace torvan::bench
