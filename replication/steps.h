// ReplicationOps: the two steps of a replication pass as the cycle calls them. A true
// result means the step did work and wants to be called again at once.
#pragma once

namespace torvan {

class ReplicationOps {
 public:
  virtual ~ReplicationOps() = default;
  // Host to SQL: at most one host change per call (Server_SQL_Sincro).
  virtual bool Server_SQL_Sincro() = 0;
  // SQL to host: at most one event per database per call (Server_SQL_Ritorno).
  virtual bool Server_SQL_Ritorno() = 0;
};

}  // namespace torvan
