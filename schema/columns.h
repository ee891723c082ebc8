// The column definitions of Torvan's tables: the data columns a host file gives, the
// reserved columns of the mirror, event and master tables, the type rule that turns a
// definition into a SQL type, and the check of a layout before anything is dropped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/catalogue_files.h"
#include "sql/sqlite_storage.h"

namespace torvan {

inline constexpr char kMasterTable[] = "_T_MASTER___";

// A column definition is an entry of the same kind as Tab_Campi: Nome and Nome_Sql (kept
// together by MakeColumn), Tipo ("A" text, "x" identity, any other letter numeric), Byte,
// Lunghezza, Decimali. Posizione is carried along and not used.
using ColumnDef = CampoEntry;

ColumnDef MakeColumn(std::string_view name, std::string_view tipo, int32_t byte, int32_t lunghezza,
                     int32_t decimali);

// The data columns of a file: fields whose Escluso is exactly one blank and whose trimmed
// name is not "§_T_IDX___", in record order.
std::vector<ColumnDef> DataColumns(const std::vector<Campo_Rec>& fields);
// Data columns + _T_RRN___ (+ _T_IDX___ identity and _T_TIPO___ when pc_as).
std::vector<ColumnDef> MirrorColumns(std::vector<ColumnDef> data, bool pc_as);
// Data columns + _T_RRN___, _T_IDX___, _T_TIPO___, _T_EVENTO___, _T_PROGR___ identity.
std::vector<ColumnDef> EventColumns(std::vector<ColumnDef> data);
// _T_RRN___ identity, _T_FILE___, _T_PROGR___.
std::vector<ColumnDef> MasterColumns();

// The type rule: "A" nvarchar(Byte), "x" numeric(Lunghezza,Decimali) IDENTITY(1, 1), any
// other letter numeric(Lunghezza,Decimali). The comparison of the letter is exact.
sql::ColumnType SqlType(const ColumnDef& column);

// Why a table of these columns cannot be built, in Italian ("il campo PREZZO ha 40 cifre
// (da 1 a 38)"), or "" when it can: at least one column, names unique without regard to
// case, types SQL Server and the SQLite engine both hold (nvarchar of 1 to 4000
// characters, numeric of 1 to 38 digits and at most as many decimals, identities of
// whole numbers of at most 18 digits).
std::string LayoutFault(const std::vector<ColumnDef>& columns);
// The same for the data columns of a host file, whose types are A, S, P or B.
std::string DataLayoutFault(const std::vector<ColumnDef>& data);

}  // namespace torvan
