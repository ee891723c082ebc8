// The SQL object names a catalogued file owns in its database, and the files whose names
// clash.
//
// A file's objects are named after the host file without its library: the mirror table
// <file> and, when it is replicated back (Pc_As), the event table <file>___ and the
// triggers <file>_D, <file>_I, <file>_U and <file>____I; every database that receives
// files back has the master table _T_MASTER___. SQL Server keeps tables and triggers in one
// namespace per schema and compares names without regard to case, so two files of one
// database whose objects share a name (CLIENTI of two libraries; a file A sent back beside
// a host file A___) would share a table: building one would drop the other's rows. Such
// files are marked at every catalogue load and refused by every build and drop.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace torvan {

struct Catalogue;
struct FileEntry;

// The master table of a database ("_T_MASTER___").
inline constexpr char kMasterTableName[] = "_T_MASTER___";

// The names of the tables and triggers the file owns, in the order they are created.
std::vector<std::string> OwnedObjectNames(const FileEntry& file);

// Two catalogued files whose objects share a name in one database. `other` is 0 when the
// name is Torvan's own master table.
struct NameClash {
  int32_t file = 0;   // file number, 1..N_File
  int32_t other = 0;  // the other file's number, or 0 for the master table
  std::string name;   // the shared object name, as `file` would create it
};

// Every clash, each pair once (file < other, master-table clashes with other 0), in file
// order. Files without a database (Indice_DB 0) own nothing and clash with nothing.
std::vector<NameClash> FindNameClashes(const Catalogue& catalogue);

// "   *** ERRORE ***  I file LIB1/A e LIB2/A usano lo stesso nome DB/A": the message line
// of a clash (for the master table: "... Il file LIB/F usa il nome riservato DB/_T_MASTER___").
std::string NameClashMessage(const Catalogue& catalogue, const NameClash& clash);

}  // namespace torvan
