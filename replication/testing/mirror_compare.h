// The comparer of the end-to-end tests and the fault soak: does a mirror table hold exactly
// the records of its host file, each once, with the values Torvan decodes from them?
//
// Host side: `torvan-host ctl dump LIB/FILE` (UTF-8), a line a record, the RRN then tab-apart
// "FIELD=value" pairs, values as Field_Decode gives them with trailing blanks cut. A row whose
// _T_RRN___ is not 0 stands for the record of that RRN; one whose _T_RRN___ is 0 (inserted on
// the SQL side) for the record whose "§_T_IDX___" holds its _T_IDX___. Every record must be
// stood for by exactly one row, every row stand for exactly one record.
// Values, every field but the index: a text of n bytes is the host value padded to n
// characters (in a file sent back, whose rows the SQL side may write with fewer blanks, it
// is so once both lose their trailing blanks); a number has the same value whatever its form
// ("-00000000000350.500" on the host, "-350.500" in the mirror).
// Texts are Windows-1252; differences are lines of text, one per fault, none when alike.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "platform/status.h"
#include "sql/connection.h"

namespace torvan::testing {

// A host record of a dump: its RRN and its values by field name.
struct HostRecord {
  int32_t rrn = 0;
  std::map<std::string, std::string> values;
};

// Parses `ctl dump` (UTF-8); a line that is not a record is a fault.
Status ParseHostDump(std::string_view dump_utf8, std::vector<HostRecord>* records);

// A row of a mirror table: its reserved columns and its values by column name.
struct MirrorRow {
  int64_t rrn = 0;
  int64_t idx = 0;   // _T_IDX___, 0 when the table has none
  std::string tipo;  // _T_TIPO___, empty when the table has none
  std::map<std::string, std::string> values;
};

// Every row of the mirror table `table`.
Status ReadMirror(sql::Connection& connection, const std::string& table,
                  std::vector<MirrorRow>* rows);

// The differences between host file `file` and its mirror table (see above).
std::vector<std::string> CompareMirror(const FileEntry& file, const std::vector<CampoEntry>& fields,
                                       const std::vector<HostRecord>& host,
                                       const std::vector<MirrorRow>& mirror);

// A number in one form: sign, digits without leading zeros, exactly `scale` decimals
// ("-350.500", "12", "0.05"); empty for no number or significant decimals beyond `scale`.
std::string CanonicalNumber(std::string_view text, int32_t scale);

// Events recorded on the SQL side not yet sent back: the master table's rows (0 if none).
Status UnsentEvents(sql::Connection& connection, int64_t* count);

class HostProcess;

// The whole check of a Torvan folder: every file replicated to SQL (or those named
// "LIB/FILE") against what `host` dumps, and the events not sent back of every database that
// sends them. A failure means the comparison could not be made.
Status CompareFolder(const std::string& torvan_dir, const HostProcess& host,
                     const std::vector<std::string>& only, std::vector<std::string>* differences);

}  // namespace torvan::testing
