// SQL Server's error numbers, states and texts that Torvan's SQL layer raises itself: the
// SQLite dialect in the server's place (a statement SQL Server would refuse, with the
// number and text the server would give), and every engine for a connection that is not
// open or a statement that returns no rows. Written once, here, for the dialects, the
// engines and whoever acts on an error's number (a table the dialect does not know yet).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sql/connection.h"

namespace torvan::sql {

struct ServerError {
  int32_t number;         // SQL Server's message number; 0: none of the server's
  const char* sql_state;  // five characters
};

namespace server_error {
inline constexpr ServerError kNotInSet{0, "42000"};  // outside Torvan's statements
inline constexpr ServerError kSchemaUnreadable{0, "HY000"};
inline constexpr ServerError kInternal{0, "HY000"};
inline constexpr ServerError kNoRows{0, "24000"};
inline constexpr ServerError kNotOpen{0, "08003"};
inline constexpr ServerError kIncorrectSyntax{102, "42000"};
inline constexpr ServerError kMoreColumnsThanValues{109, "21S01"};
inline constexpr ServerError kMoreValuesThanColumns{110, "21S01"};
inline constexpr ServerError kInvalidColumn{207, "42S22"};
inline constexpr ServerError kInvalidObject{208, "42S02"};
inline constexpr ServerError kColumnTwice{264, "42000"};
inline constexpr ServerError kIdentityInsert{544, "23000"};
inline constexpr ServerError kIdentityUpdate{8102, "42000"};
inline constexpr ServerError kConvertToNumeric{8114, "22018"};
inline constexpr ServerError kArithmeticOverflow{8115, "22003"};
inline constexpr ServerError kTruncated{8152, "22001"};
inline constexpr ServerError kUncommittable{3930, "25000"};
}  // namespace server_error

// The texts, Windows-1252 as every SqlError's; names as the statement wrote them.
inline constexpr char kNotOpenText[] = "The connection is not open.";
// Followed by "." (a driver's statement) or ": " and the statement (the dialect's).
inline constexpr char kNoRowsText[] = "The statement returns no rows";
inline constexpr char kConvertToNumericText[] = "Error converting data type varchar to numeric.";
inline constexpr char kMoreValuesThanColumnsText[] =
    "There are fewer columns in the INSERT statement than values specified in the VALUES "
    "clause.";
inline constexpr char kMoreColumnsThanValuesText[] =
    "There are more columns in the INSERT statement than values specified in the VALUES "
    "clause.";

inline constexpr char kUncommittableText[] =
    "The current transaction cannot be committed and cannot support operations that write to "
    "the log file. Roll back the transaction.";

inline std::string IncorrectSyntaxText(std::string_view near) {
  return "Incorrect syntax near '" + std::string(near) + "'.";
}
inline std::string InvalidObjectText(std::string_view name) {
  return "Invalid object name '" + std::string(name) + "'.";
}
inline std::string InvalidColumnText(std::string_view name) {
  return "Invalid column name '" + std::string(name) + "'.";
}
inline std::string ColumnTwiceText(std::string_view column) {
  return "The column name '" + std::string(column) +
         "' is specified more than once in the SET clause or column list of an INSERT.";
}
inline std::string IdentityInsertText(std::string_view table) {
  return "Cannot insert explicit value for identity column in table '" + std::string(table) +
         "' when IDENTITY_INSERT is set to OFF.";
}
inline std::string IdentityUpdateText(std::string_view column) {
  return "Cannot update identity column '" + std::string(column) + "'.";
}
inline std::string TruncatedText(std::string_view column, int length) {
  return "String or binary data would be truncated in column '" + std::string(column) + "' (" +
         std::to_string(length) + " characters).";
}

// An error of `kind` with `description`, from `source`, whose number is `origin`'s.
inline SqlError ServerErrorOf(const ServerError& kind, std::string description, std::string source,
                              ErrorOrigin origin) {
  SqlError e;
  e.number = kind.number;
  e.native_error = kind.number;
  e.sql_state = kind.sql_state;
  e.source = std::move(source);
  e.origin = origin;
  e.description = std::move(description);
  return e;
}

// The source of the errors the SQLite dialect raises.
inline constexpr char kDialectSource[] = "Torvan SQLite dialect";

// An error the SQLite dialect raises in the server's place.
inline SqlError DialectError(const ServerError& kind, std::string description) {
  return ServerErrorOf(kind, std::move(description), kDialectSource, ErrorOrigin::kDialect);
}

// The dialect refuses a statement or a value: `*error` says why, and so does the Status
// (InvalidArgument).
inline Status DialectRefusal(SqlError* error, const ServerError& kind, std::string message) {
  *error = DialectError(kind, message);
  return Status::InvalidArgument(std::move(message));
}

// The error of an engine whose connection is not open.
inline SqlError NotOpenError(std::string source) {
  return ServerErrorOf(server_error::kNotOpen, kNotOpenText, std::move(source),
                       ErrorOrigin::kTorvan);
}

}  // namespace torvan::sql
