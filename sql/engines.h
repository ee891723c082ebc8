// Inside the sql/ module only: the engines behind NewConnection.
#pragma once

#include <memory>

#include "sql/connection.h"

namespace torvan::sql {

std::unique_ptr<Connection> NewSqliteConnection(const ConnectionParams& params);
std::unique_ptr<Connection> NewOdbcConnection(const ConnectionParams& params);
std::unique_ptr<Connection> NewPostgresConnection(const ConnectionParams& params);

}  // namespace torvan::sql
