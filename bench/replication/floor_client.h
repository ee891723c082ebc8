// The floor of the replication benchmarks: the least a client must do to carry the same
// changes, written plainly — one blocking socket to the host program, the host bytes
// decoded with Torvan's field decoder, and prepared statements on the SQLite C API against
// the very database Torvan built (same tables, same triggers, same commits).
#pragma once

#include <libpq-fe.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "hostlink/char_table.h"

namespace torvan::bench {

class FloorClient {
 public:
  // Connects to the host program on `port` (and reads its greeting) and opens the SQLite
  // database file `database` (none when it is empty). Exits the program on failure.
  FloorClient(int port, const std::string& char_table, const std::string& database);
  ~FloorClient();

  // One request and its reply: false when the host refused (outcome not "0").
  bool Exchange(char code, const std::string& data, std::string* reply_data);

  sqlite3* db() { return db_; }
  sqlite3_stmt* Prepare(const std::string& sql);
  void Step(sqlite3_stmt* s);  // runs to completion, then resets
  const hostlink::CharTables& tables() const { return tables_; }

 private:
  void ReadExactly(char* to, size_t n);
  int fd_ = -1;
  sqlite3* db_ = nullptr;
  hostlink::CharTables tables_;
  std::vector<sqlite3_stmt*> statements_;
};

// The floor's way to PostgreSQL: one libpq session, statements prepared once, values as text
// parameters. Exits the program on any failure.
class PgSession {
 public:
  // Database `database` of the server on `port` of 127.0.0.1, as the benchmark's Torvan logs
  // in (user torvan).
  PgSession(int port, const std::string& database);
  ~PgSession();
  void Prepare(const std::string& name, const std::string& sql, int params);
  // Runs a prepared statement; its rows stay readable until the next Run.
  void Run(const std::string& name, const std::vector<std::string>& values);
  int Rows() const { return PQntuples(result_); }
  const char* Value(int row, int column) const { return PQgetvalue(result_, row, column); }
  void Exec(const std::string& sql);

 private:
  void Check(PGresult* r);
  PGconn* db_ = nullptr;
  PGresult* result_ = nullptr;
  std::vector<const char*> values_;
};

}  // namespace torvan::bench
