// The floor of the replication benchmarks: the least a client must do to carry the same
// changes, written plainly — one blocking socket to the host program, the host bytes
// decoded with Torvan's field decoder, and prepared statements on the SQLite C API against
// the very database Torvan built (same tables, same triggers, same commits).
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "hostlink/char_table.h"

namespace torvan::bench {

class FloorClient {
 public:
  // Connects to the host program on `port` (and reads its greeting) and opens the SQLite
  // database file `database`. Exits the program on failure.
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

}  // namespace torvan::bench
