// The in-memory catalogue: which files are replicated, into which database and in which
// directions, and their included fields with their host layout.
//
// Carica_Catalogo builds it from the catalogue files right after every catalogue load; the
// replication steps, the schema operations and the connections read it until the next
// link opening. Tables are indexed from 1 as the catalogue numbers its records: entry 0 of
// each table is an empty entry and is never used.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/program.h"

namespace torvan {

// The reserved index field of the host files replicated back ("§" is 0xA7 in Windows-1252).
inline constexpr char kCampoIdx[] = "\xA7_T_IDX___";

struct FileEntry {
  std::string Libreria, File;  // trimmed
  int32_t Primo_Campo = 0, Ultimo_Campo = 0, N_Campi = 0;
  bool As_Pc = false, Pc_As = false;
  int32_t Indice_DB = 0;  // database record number, 0 when none
  std::string DataBase;   // trimmed
  int32_t Campo_IDX = 0;  // index in Tab_Campi of "§_T_IDX___", 0 when none
  // Another file of its database owns an SQL object of the same name (catalogue/
  // sql_names.h): its tables are never built or dropped.
  bool Nome_In_Conflitto = false;
  // A field of the file has a layout that cannot be decoded (FieldLayoutError): no table is
  // built from it and no change of the file is decoded; its changes must be refused, not
  // consumed, until the host's catalogue is mended.
  bool Tracciato_Errato = false;
};

struct CampoEntry {
  std::string Nome;  // trimmed name
  // The column's name as every T-SQL statement writes it: NomeSql(Nome). Statements for
  // SQL Server take it from here; the SQLite rendering quotes Nome in its own way.
  std::string Nome_Sql;
  std::string Tipo;  // one character: A, S, P, B (or as received)
  int32_t Posizione = 0, Byte = 0, Lunghezza = 0, Decimali = 0;
};

// "[" + name + "]" with every "]" inside doubled, so that no name ends a statement early.
std::string NomeSql(std::string_view nome);

struct Catalogue {
  std::vector<FileEntry> Tab_File{1};           // 1..N_File
  std::vector<CampoEntry> Tab_Campi{1};         // the included fields of all files
  std::vector<std::string> Tab_Cartelle_DB{1};  // 1..N_DB: trimmed Cartella_DB
  int32_t N_File = 0;
  int32_t N_DB = 0;                // databases written by the last catalogue load
  std::vector<bool> DB_Ritorno{};  // 1..N_DB: some file of it has Pc_As "S"
  bool Catalogo_Errato = false;
};

// The column names Torvan adds to the tables it builds; no host field may take one of them
// (compared without regard to case, as SQL Server does). The host's own index field
// "§_T_IDX___" is not among them.
inline constexpr const char* kReservedColumns[] = {"_T_RRN___",    "_T_TIPO___",  "_T_IDX___",
                                                   "_T_EVENTO___", "_T_PROGR___", "_T_FILE___"};

// Why an included field cannot be decoded, as the end of the message line ("tipo \"X\"
// sconosciuto (A, S, P o B)"); empty when it can. Refused only: a name Torvan's own
// columns take, a type other than A, S, P or B (the decoder gives no value for it), a
// field of no bytes or not wholly within a host record of change_record::kMaxRecordLength
// bytes, a packed field with more decimals than its 2 x bytes - 1 digits. The declared
// digits are not used by the decoding, so they are never compared with the bytes: a B
// field of 4 bytes and 10 digits (an SQL INTEGER) is a field like any other. Whether its
// SQL column can be made is the table builder's question (schema/columns.h), and a value
// beyond the column is refused when it is written.
std::string FieldLayoutError(const CampoEntry& field);

struct Campo_Rec;
// A field record of the catalogue files as the in-memory catalogue holds it: name and type
// trimmed, Nome_Sql made, the layout as it stands (not yet checked).
CampoEntry CatalogueField(const Campo_Rec& rec);

// Rebuilds Tab_File, Tab_Campi, Tab_Cartelle_DB, N_File and Catalogo_Errato from the
// catalogue files (finishing first a catalogue switch that a kill interrupted), writing to
// the message log the index-field errors, the fields whose layout cannot be right
// ("   *** ERRORE ***  Nel file LIB/FILE il campo NOME non è valido: <why>", the file
// then marked Tracciato_Errato; a blank or repeated name counts too) and the name clashes
// (sql_names.h, the files marked Nome_In_Conflitto). A file that cannot be read is skipped
// and the load goes on. N_DB and DB_Ritorno are the catalogue load's.
void Carica_Catalogo(Program& program, Catalogue& catalogue);

}  // namespace torvan
