// The SQL statements the host accepts through the R request: the three forms Torvan
// sends back for changes made on the SQL side, and nothing more general.
//
//   INSERT INTO LIB/FILE (F1,F2,§_T_IDX___) VALUES('a''b', 12, 57)
//    UPDATE LIB/FILE a SET F1='x', F2=12, §_T_IDX___=57 WHERE RRN(a)=n
//    UPDATE LIB/FILE a SET ... WHERE §_T_IDX___=n
//    DELETE FROM LIB/FILE a WHERE RRN(a)=n           (or WHERE FIELD=value)
//
// Keywords and names are compared without regard to case; blanks around names, values
// and punctuation are free. Text values are quoted with quotes doubled inside; other
// values are decimal numbers ("-12.50"). An UPDATE or DELETE without WHERE is refused:
// Torvan never sends one, and it would touch every record.
//
// ParseStatement only reads the text; RunStatement (statement_runner.h) executes it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace torvan::hostsim {

struct StatementValue {
  bool quoted = false;
  std::string text;  // quotes removed and doubled quotes undone
};

struct Statement {
  enum class Kind { kInsert, kUpdate, kDelete };
  Kind kind = Kind::kInsert;
  std::string library, file;  // upper case
  // INSERT: columns with their values, in order; UPDATE: the SET list.
  std::vector<std::pair<std::string, StatementValue>> values;
  // UPDATE and DELETE: the record with this RRN, or the records whose field `where_field`
  // equals `where_value`.
  bool where_rrn = false;
  int64_t rrn = 0;
  std::string where_field;  // upper case
  StatementValue where_value;
};

// Reads one statement (Windows-1252 text). A text that is not one of the forms above is
// InvalidArgument saying what was expected where.
Status ParseStatement(std::string_view text, Statement* statement);

}  // namespace torvan::hostsim
