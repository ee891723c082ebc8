// Runtime: what the links need beside the Program — the socket layer, the in-memory
// catalogue, the SQL connections — and the few knobs that tests turn (the pause between
// connection attempts). One Runtime lives beside the Program for the whole process.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include "catalogue/catalogue.h"
#include "core/program.h"
#include "hostlink/socket_layer.h"
#include "schema/connections.h"

namespace torvan {

struct LinkOptions {
  int attempts = 20;      // connection attempts of a link start
  int pause_steps = 150;  // pause after a failed attempt: 150 x 200 ms
  std::chrono::milliseconds pause_step{200};
  std::chrono::milliseconds after_load{100};  // pause once the catalogue is built
  // Makes each SQL connection Server_SQL_Start_ opens (tests put faults between Torvan and
  // the engine, sql/fault_connection.h).
  std::function<std::unique_ptr<sql::Connection>(const sql::ConnectionParams&)> new_connection =
      sql::NewConnection;
};

struct Runtime {
  explicit Runtime(Program& p) : program(p), socket(p) {}
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  Program& program;
  hostlink::SocketLayer socket;
  Catalogue catalogue;
  Connessioni connessioni;  // sized by the catalogue load, opened by Server_SQL_Start_
  LinkOptions link;
  // Why the last Server_AS_Start failed (Windows-1252), empty after one that worked.
  std::string link_failure;
};

}  // namespace torvan
