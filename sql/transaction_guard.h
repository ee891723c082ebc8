// Every connection NewConnection makes is wrapped so that a transaction cannot vanish under
// its caller. A connection closed or opened again while its caller has a transaction open
// (the link lost, the server gone, another part of Torvan reopening it) has lost that
// transaction: the engine would run the caller's next statements on their own, each
// committed at once, and its Commit would find nothing open and succeed. The guard fails
// them instead, and the Commit, with the SQLSTATE of a connection failure during a
// transaction (08007), until the caller has rolled back every level it began.
#pragma once

#include <memory>

#include "sql/connection.h"

namespace torvan::sql {

std::unique_ptr<Connection> GuardTransactions(std::unique_ptr<Connection> engine);

}  // namespace torvan::sql
