// The replication steps of the cycle, on the links of a Runtime: Server_SQL_Sincro
// (host to SQL, with the image archive) and Server_SQL_Ritorno (SQL to host).
#pragma once

#include <memory>

#include "links/runtime.h"
#include "replication/host_to_sql.h"
#include "replication/pending.h"
#include "replication/sql_to_host.h"
#include "replication/steps.h"
#include "schema/confirm.h"

namespace torvan {

// The two steps, sharing the pending file of the base folder. `confirmations` answers the
// questions of a file cleared on the host (rebuilding its tables). Both references must
// outlive the steps.
class ReplicationSteps final : public ReplicationOps {
 public:
  ReplicationSteps(Runtime& rt, Confirmations& confirmations);

  // Opens the pending file and takes its lock now rather than at the first step, so that
  // no other Torvan can start working in the folder meanwhile. False, after a message
  // line, when it cannot (another Torvan holds it, the file cannot be read).
  bool Ready() { return pending_.Ready(); }

  bool Server_SQL_Sincro() override { return host_to_sql_.Server_SQL_Sincro(); }
  bool Server_SQL_Ritorno() override { return sql_to_host_.Server_SQL_Ritorno(); }

 private:
  Pending pending_;
  HostToSql host_to_sql_;
  SqlToHost sql_to_host_;
};

// The same steps, for a front end that needs no more than the cycle's view of them.
std::unique_ptr<ReplicationOps> MakeReplication(Runtime& rt, Confirmations& confirmations);

}  // namespace torvan
