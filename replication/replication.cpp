#include "replication/replication.h"

namespace torvan {

ReplicationSteps::ReplicationSteps(Runtime& rt, Confirmations& confirmations)
    : pending_(rt.program), host_to_sql_(rt, confirmations, pending_), sql_to_host_(rt, pending_) {}

std::unique_ptr<ReplicationOps> MakeReplication(Runtime& rt, Confirmations& confirmations) {
  return std::make_unique<ReplicationSteps>(rt, confirmations);
}

}  // namespace torvan
