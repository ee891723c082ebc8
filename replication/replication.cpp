#include "replication/replication.h"

#include "replication/host_to_sql.h"
#include "replication/pending.h"
#include "replication/sql_to_host.h"

namespace torvan {

namespace {

class Replication final : public ReplicationOps {
 public:
  Replication(Runtime& rt, Confirmations& confirmations)
      : pending_(rt.program),
        host_to_sql_(rt, confirmations, pending_),
        sql_to_host_(rt, pending_) {}
  bool Server_SQL_Sincro() override { return host_to_sql_.Server_SQL_Sincro(); }
  bool Server_SQL_Ritorno() override { return sql_to_host_.Server_SQL_Ritorno(); }

 private:
  Pending pending_;
  HostToSql host_to_sql_;
  SqlToHost sql_to_host_;
};

}  // namespace

std::unique_ptr<ReplicationOps> MakeReplication(Runtime& rt, Confirmations& confirmations) {
  return std::make_unique<Replication>(rt, confirmations);
}

}  // namespace torvan
