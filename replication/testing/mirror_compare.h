// The comparer of Torvan's end-to-end tests and of the fault soak (scripts/soak): does a
// mirror table hold exactly the records of its host file, each once, with the values
// Torvan decodes from them? One check for both directions: a host change must have reached
// the mirror, and a change made on the SQL side must have reached the host, once.
//
// The host side is what `torvan-host ctl dump LIB/FILE` prints (UTF-8): a line a record,
// the RRN, then "FIELD=value" pairs separated by tabs, each value as Field_Decode gives it
// with its trailing blanks cut ("?" and hexadecimal for a field it cannot decode). The SQL
// side is the mirror table read through a sql::Connection.
//
// Matching. A mirror row whose _T_RRN___ is not 0 stands for the host record of that RRN.
// A row whose _T_RRN___ is 0 was inserted on the SQL side: it stands for the host record
// whose "§_T_IDX___" holds the row's _T_IDX___ (files sent back only). Every host record
// must be stood for by exactly one row, every row must stand for exactly one record.
//
// Values, for every field of the catalogue but the index field: a text field of n bytes
// must be the host value padded with blanks to n characters (untrimmed, as Torvan
// inserts it; a NUL byte shows as "Ø" on both sides); in a file sent back, whose rows may
// have been written on the SQL side with fewer blanks, the value without its trailing
// blanks must be the host's. A numeric field must have the same value (sign, digits,
// decimals) whatever its form ("-00000000000350.500" on the host, "-350.500" in the
// mirror).
//
// Texts are Windows-1252 inside, like every text of Torvan; differences are returned as
// lines of text (Windows-1252), one per fault found, empty when the two agree.
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

// One host record of a dump: its RRN and its fields' values by host name.
struct HostRecord {
  int32_t rrn = 0;
  std::map<std::string, std::string> values;
};

// Parses the output of `ctl dump` (UTF-8). A line that is not a record is a fault.
Status ParseHostDump(std::string_view dump_utf8, std::vector<HostRecord>* records);

// One row of a mirror table: its reserved columns and its values by column name.
struct MirrorRow {
  int64_t rrn = 0;
  int64_t idx = 0;   // _T_IDX___, 0 when the table has none
  std::string tipo;  // _T_TIPO___, empty when the table has none
  std::map<std::string, std::string> values;
};

// Every row of the mirror table `table`.
Status ReadMirror(sql::Connection& connection, const std::string& table,
                  std::vector<MirrorRow>* rows);

// The included fields of file n, in catalogue order, and the position among them of the
// index field (-1 when none).
std::vector<CampoEntry> FieldsOf(const Catalogue& catalogue, int n, int* index_field);

// The differences between host file `file` and its mirror table (see above).
std::vector<std::string> CompareMirror(const FileEntry& file, const std::vector<CampoEntry>& fields,
                                       const std::vector<HostRecord>& host,
                                       const std::vector<MirrorRow>& mirror);

// The same numeric value in canonical form: "-", the integer digits without leading zeros
// ("0" for none), "." and exactly `scale` decimals when scale > 0 ("-350.500", "12",
// "0.05"). Blanks around the text are ignored. Empty for a text that is no number or has
// significant decimals beyond `scale`.
std::string CanonicalNumber(std::string_view text, int32_t scale);

// Events recorded on the SQL side and not yet sent back: the rows of the master table
// (0 when the database has none).
Status UnsentEvents(sql::Connection& connection, int64_t* count);

class HostProcess;

// The whole check for a Torvan folder: every file of its catalogue that is replicated to
// SQL (or only those named "LIB/FILE", Windows-1252) against the records `host` dumps, and
// the events not yet sent back of every database that sends them ("<database>: <n> events
// not sent back"). The mirror tables are read from the embedded engine's files in
// `torvan_dir`. A failure means the comparison could not be made.
Status CompareFolder(const std::string& torvan_dir, const HostProcess& host,
                     const std::vector<std::string>& only, std::vector<std::string>* differences);

}  // namespace torvan::testing
