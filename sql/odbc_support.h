// Inside the sql/ module only: what the ODBC engine and SQLite-through-ODBC target share
// of unixODBC. UTF-16 as the driver manager's wide functions take it, the diagnostic
// records of a handle (wide or narrow calls), a handle that frees itself, and the pieces of
// a connection string.
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sql/connection.h"

namespace torvan::sql {

using WideString = std::basic_string<SQLWCHAR>;
static_assert(sizeof(SQLWCHAR) == 2, "unixODBC's SQLWCHAR is UTF-16");

// UTF-8 to UTF-16 and back; a malformed sequence becomes U+FFFD.
WideString Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(const SQLWCHAR* w, size_t n);
WideString Cp1252ToWide(std::string_view cp1252);

// The diagnostic records of a handle, in order, descriptions in Windows-1252. `wide`
// selects the driver manager's UTF-16 function (SQL Server drivers, whose messages that
// carry the server's number are of ErrorOrigin::kSqlServer) or the narrow one (UTF-8,
// SQLite's driver). A null handle has none.
std::vector<SqlError> Diagnostics(SQLSMALLINT type, SQLHANDLE handle, bool wide,
                                  const std::string& source);

// An ODBC handle of one type, freed with it unless released.
class OdbcHandle {
 public:
  explicit OdbcHandle(SQLSMALLINT type, SQLHANDLE handle = SQL_NULL_HANDLE)
      : type_(type), handle_(handle) {}
  ~OdbcHandle() { Reset(); }
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;

  SQLHANDLE get() const { return handle_; }
  // Allocates it under `parent`; the SQLRETURN of SQLAllocHandle.
  SQLRETURN Allocate(SQLHANDLE parent) {
    Reset();
    const SQLRETURN rc = SQLAllocHandle(type_, parent, &handle_);
    if (!SQL_SUCCEEDED(rc)) handle_ = SQL_NULL_HANDLE;
    return rc;
  }
  SQLHANDLE Release() { return std::exchange(handle_, SQLHANDLE{}); }
  void Reset() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
    handle_ = SQL_NULL_HANDLE;
  }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_;
};

// A connection-string value as it stands when nothing in it could end it early, else
// "{value}" with "}" doubled: drivers that do not take braces off (PostgreSQL's reads
// "{127.0.0.1}" as the host name) meet them only where they are needed.
std::string Braced(std::string_view value);

// Whether a driver's name is SQLite's driver's.
bool NamesSqliteDriver(std::string_view driver);

}  // namespace torvan::sql
