// The replication steps of the cycle, on the links of a Runtime: Server_SQL_Sincro
// (host to SQL, with the image archive) and Server_SQL_Ritorno (SQL to host).
#pragma once

#include <memory>

#include "links/runtime.h"
#include "replication/steps.h"
#include "schema/confirm.h"

namespace torvan {

// The steps on `rt`; `confirmations` answers the questions of a file cleared on the host
// (rebuilding its tables). Both must outlive the result.
std::unique_ptr<ReplicationOps> MakeReplication(Runtime& rt, Confirmations& confirmations);

}  // namespace torvan
