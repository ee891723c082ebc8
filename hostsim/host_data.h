// What the simulated IBM i holds: its settings, the SQL Server databases and replicated
// files of its catalogue, each file's field layout, and the records of each file in their
// host layout (EBCDIC bytes) under their relative record numbers.
//
// Used by the data-folder reader and writer, the store that changes records and queues
// changes, and the host server program's replies. Texts are Windows-1252 strings, like
// every text inside Torvan; record bytes are host bytes.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hostlink/host_format.h"

namespace torvan::hostsim {

// The reserved index field of files replicated back to SQL, as the PC writes its name.
inline constexpr char kIndexFieldName[] = "\xA7_T_IDX___";  // "§_T_IDX___"
// Widest record whose change record (header, before and after image) fits one reply.
using hostlink::change_record::kMaxRecordLength;

// Settings of the host, from "host.conf" in the data folder.
struct HostConfig {
  std::string user = "UTENTE";        // FTP login, compared without regard to case
  std::string password;               // FTP password, compared exactly
  std::string server_library = "TM";  // library of the server program TNM_121
  std::string listen = "127.0.0.1";   // address every listener binds to
  int ftp_port = 21;                  // FTP control port; 0 = any free port
  int port = -1;                      // host server started at once on this port; -1 = not
};

// One entry of the database list (request "3"). Widths are those of the listing.
struct HostDatabase {
  std::string name;         // 20
  std::string description;  // 50
  std::string server;       // 20
  std::string address;      // 16
  std::string user;         // 20
  std::string password;     // 20, plain: the PC scrambles it
  std::string folder;       // 50
};

// One field of a host file (request "2").
struct HostField {
  std::string name;    // at most 10 characters
  std::string text;    // 50
  char type = 'A';     // 'A' text, 'S' zoned, 'P' packed, 'B' big-endian integer
  int32_t digits = 0;  // characters for 'A'
  int32_t decimals = 0;
  int32_t position = 0;  // 1-based byte position in the record
  int32_t bytes = 0;
  bool excluded = false;  // listed with a non-blank "Escluso": not replicated by the PC
};

// One replicated host file (request "1") with its fields and records.
struct HostFile {
  std::string library;          // 10
  std::string file;             // 10
  std::string text;             // 50
  std::string trigger_library;  // 10
  std::string trigger;          // 10
  char as_pc = 'N';             // "S": host changes go to SQL
  char pc_as = 'N';             // "S": SQL changes come back as R statements
  char acq = 'N';
  std::string database;        // 20, a database name
  std::string filter_library;  // 10
  std::string filter;          // 10

  std::vector<HostField> fields;
  int32_t record_length = 0;
  int index_field = -1;  // index in `fields` of "§_T_IDX___", -1 when the file has none

  // Records by relative record number, each exactly record_length host bytes.
  std::map<int32_t, std::string> records;
  // The RRN the next added record takes; deleted numbers are not reused until a clear.
  int32_t next_rrn = 1;

  // "LIB/FILE" as the statements and the control command name it.
  std::string Name() const { return library + "/" + file; }
  // The field called `name` (compared without regard to case), nullptr when none.
  const HostField* FindField(const std::string& name) const;
};

// Everything the host holds. Files keep the order of the file list.
struct HostData {
  HostConfig config;
  std::vector<HostDatabase> databases;
  std::vector<std::unique_ptr<HostFile>> files;

  // The file LIB/FILE (library and file compared without regard to case), nullptr if none.
  HostFile* FindFile(const std::string& library, const std::string& file) const;
  // The same for a "LIB/FILE" text.
  HostFile* FindFile(const std::string& qualified_name) const;
};

}  // namespace torvan::hostsim
