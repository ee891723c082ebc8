// The files Torvan keeps in its base folder. The base folder is the process's current
// working directory at start-up (or the folder given with --dir); the paths never change
// while Torvan runs.
#pragma once

#include <string>
#include <string_view>

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
  std::string journal;        // "TnC_GIORNALE.DAT", host changes (replication/journal.h)
  std::string refused_log;    // "TnC_RIFIUTATI.Log"
  std::string set_aside_log;  // "TnC_ACCANTONATI.Log"
  std::string conflicts_log;  // "TnC_CONFLITTI.Log": rows both sides changed
  // What a running Torvan reports about itself (control/status_file.h).
  std::string status;  // "TnC_STATO.DAT"

  static Paths InFolder(const std::string& folder);
  // The folder of the current working directory.
  static Paths InWorkingDirectory();

  // Field catalogue of file record n: "TnC_F_00003.DAT" for n = 3.
  std::string FieldFile(int n) const;
};

// A data file installed with Torvan (`cmake --install`, the .deb): share/torvan/<name>
// found from the running program's own folder (bin/../share/torvan), else under the
// prefix Torvan was built for. Empty when neither holds the file.
std::string InstalledDataFile(std::string_view name);
// The same, for a program at `program_path`.
std::string InstalledDataFileFor(std::string_view program_path, std::string_view name);

// The character table to read: the base folder's own TnC_TBL1.Tbl when it is there, else
// the installed one (*installed is then true). With neither, the base folder's path, whose
// reading fails and says so.
std::string CharTableToRead(const Paths& paths, bool* installed);

}  // namespace torvan
