// Executes the SQL statements of the R request on the host's files.
//
// The result says what happened: a blank when the statement was executed, otherwise one
// of the letters below. A refused statement changes nothing. The host session answers a
// statement its files could not take (kStatementFailed) with a refused request, outcome
// "1", and every other letter as the reply's status.
// Changes made here come from the PC, so they are not queued back to it.
#pragma once

#include <string>
#include <string_view>

#include "hostsim/host_store.h"

namespace torvan::hostsim {

inline constexpr char kStatementDone = ' ';
inline constexpr char kStatementSyntax = 'S';    // not one of the accepted statement forms
inline constexpr char kStatementNoFile = 'F';    // no such library/file
inline constexpr char kStatementNoField = 'C';   // no such field in the file
inline constexpr char kStatementNoRecord = 'N';  // UPDATE/DELETE found no record
inline constexpr char kStatementBadValue = 'V';  // a value does not fit its field
inline constexpr char kStatementFailed = 'E';    // the host could not write its files

struct StatementResult {
  char status = kStatementDone;
  std::string message;  // why it was refused, for the server's log; empty when done
};

// Parses and executes `text` (Windows-1252) on the files of `store`.
StatementResult RunStatement(HostStore* store, std::string_view text);

}  // namespace torvan::hostsim
