// The data folder of torvan-host: text files a person can read and write, plus the files
// the running server keeps for itself.
//
//   host.conf                 settings, "key = value" lines (user, password, library,
//                             listen, ftp_port, port)
//   databases.txt             the database list, one line a database:
//                             name | description | server | address | user | password | folder
//   files.txt                 the replicated files, one line a file:
//                             library | file | text | trigger library | trigger | As_Pc |
//                             Pc_As | Acq | database | filter library | filter
//   fields/LIB.FILE.txt       the fields of LIB/FILE in record order, one line a field:
//                             name | text | type | digits | decimals | position | bytes | excluded
//                             (position and bytes may be left empty: the field then follows
//                             the previous one and takes the bytes its type needs; excluded is
//                             empty for a replicated field, "S" for an excluded one)
//   records/LIB.FILE.txt      the records of LIB/FILE, one line a record, tab-separated:
//                             RRN, then FIELD=value pairs (fields left out are empty), or
//                             RRN and "hex:" followed by the record's host bytes in hex.
//                             An optional line "next_rrn<TAB>N" gives the RRN of the next
//                             added record.
//   images/KEY.NNNNN          part NNNNN of the image KEY of TNP_ARC_0F, raw bytes
//
// Written by the server and not meant for editing: queue.txt (changes waiting for the PC),
// state.txt (schedule), journal.txt (changes since the text files were last written),
// ports.txt (the ports of the running server), ctl.sock, serve.lock.
//
// Text files are UTF-8; "#" at the start of a line begins a comment; "|" separates
// columns and blanks around a column are ignored. Inside torvan-host texts are
// Windows-1252, so every character must exist in Windows-1252.
#pragma once

#include <string>

#include "hostsim/host_data.h"
#include "hostsim/record_codec.h"
#include "platform/status.h"

namespace torvan::hostsim {

struct DataFolder {
  std::string dir;  // without a trailing "/"

  std::string Config() const { return dir + "/host.conf"; }
  std::string Databases() const { return dir + "/databases.txt"; }
  std::string Files() const { return dir + "/files.txt"; }
  std::string Fields(const HostFile& f) const;
  std::string Records(const HostFile& f) const;
  // Part `part` of the image `key` (blanks trimmed); empty when the key cannot name a file.
  std::string Image(const std::string& key, int part) const;
  std::string Queue() const { return dir + "/queue.txt"; }
  std::string State() const { return dir + "/state.txt"; }
  std::string Journal() const { return dir + "/journal.txt"; }
  std::string Ports() const { return dir + "/ports.txt"; }
  std::string CtlSocket() const { return dir + "/ctl.sock"; }
  std::string Lock() const { return dir + "/serve.lock"; }
};

// Reads host.conf, databases.txt, files.txt and every file's field list into `data`
// (records are read by LoadRecords). A missing host.conf gives the default settings; a
// missing list is an empty list. Any malformed line is InvalidArgument "<path>:<line>:
// <problem>" and `data` must then be discarded.
Status LoadDefinitions(const DataFolder& folder, HostData* data);

// Reads records/LIB.FILE.txt into `file` (absent: no records). Values are encoded with
// `codec`; a value that does not fit its field, an unknown field, a repeated RRN or a record
// of the wrong length is InvalidArgument naming the line.
Status LoadRecords(const DataFolder& folder, const RecordCodec& codec, HostFile* file);

// Writes records/LIB.FILE.txt atomically. Each record is written as FIELD=value pairs when
// reading them back gives exactly the same bytes, and in hex otherwise.
Status WriteRecords(const DataFolder& folder, const RecordCodec& codec, const HostFile& file);

// The text of one record line without its RRN and end of line ("FIELD=value<TAB>...", or
// "hex:..."), as WriteRecords writes it.
std::string RecordText(const RecordCodec& codec, const HostFile& file, const std::string& record);

// Sets the fields of `record` from "FIELD=value" assignments (Windows-1252 texts). Returns
// InvalidArgument for an unknown field or a value that does not fit; `record` is then
// partly changed and must be discarded.
Status AssignFields(const RecordCodec& codec, const HostFile& file,
                    const std::vector<std::string>& assignments, std::string* record);

// Hex helpers for record bytes ("C1F0", upper case).
std::string ToHex(std::string_view bytes);
bool FromHex(std::string_view hex, std::string* bytes);

}  // namespace torvan::hostsim
