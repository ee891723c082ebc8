// The files Torvan keeps in its base folder. The base folder is the process's current
// working directory at start-up (or the folder given with --dir); the paths never change
// while Torvan runs.
#pragma once

#include <string>

namespace torvan {

struct Paths {
  std::string base;                // the folder itself, without a trailing "/"
  std::string settings;            // "TnC.INI"
  std::string database_catalogue;  // "TnC_DB.DAT"
  std::string file_catalogue;      // "TnC_FILE.DAT"
  std::string field_pattern;       // "TnC_F_*.DAT", "*" = the file's record number, 5 digits
  std::string message_log;         // "TnC.Log"
  std::string pc_as_log;           // "TnC_PC_AS.Log"
  std::string char_table;          // "TnC_TBL1.Tbl"
  // Replication's own files: the changes in transit (replication/pending_file.h), the
  // statements the host refused, and the host changes the operator set aside.
  std::string pending;        // "TnC_PENDENTI.DAT"
  std::string refused_log;    // "TnC_RIFIUTATI.Log"
  std::string set_aside_log;  // "TnC_ACCANTONATI.Log"

  static Paths InFolder(const std::string& folder);
  // The folder of the current working directory.
  static Paths InWorkingDirectory();

  // Field catalogue of file record n: "TnC_F_00003.DAT" for n = 3.
  std::string FieldFile(int n) const;
};

}  // namespace torvan
