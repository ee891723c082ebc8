#include "replication/replication.h"

namespace torvan {

namespace {

// Until the steps land: a pass that finds nothing to do.
class NoReplication final : public ReplicationOps {
 public:
  bool Server_SQL_Sincro() override { return false; }
  bool Server_SQL_Ritorno() override { return false; }
};

}  // namespace

std::unique_ptr<ReplicationOps> MakeReplication(Runtime&, Confirmations&) {
  return std::make_unique<NoReplication>();
}

}  // namespace torvan
