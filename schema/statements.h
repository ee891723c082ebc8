// The SQL objects Torvan owns for each replicated file, and the exact text of every
// statement that creates, drops, reads or writes them.
//
// Per file: the mirror table <file> (index <file>_X on _T_RRN___) and, for files replicated
// back to the host, the event table <file>___, the triggers <file>_D, <file>_I, <file>_U
// and the master trigger <file>____I; per database the master table _T_MASTER___ (index
// _T_MASTER____X). The texts are T-SQL for SQL Server, fragment by fragment, blanks
// included; the SQLite engine translates exactly this set. Names are written between
// brackets with "]" doubled and between quotes with "'" doubled, so a name can never end
// a statement early (host names never hold either character).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.h"
#include "catalogue/catalogue_files.h"

namespace torvan {

inline constexpr char kMasterTable[] = "_T_MASTER___";

// A column definition is an entry of the same kind as Tab_Campi: Nome_Sql, Tipo ("A"
// text, "x" identity, any other letter numeric), Byte, Lunghezza, Decimali.
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

std::string BracketName(std::string_view name);  // "]" -> "]]"
std::string QuoteValue(std::string_view value);  // "'" -> "''"

std::string DropTableIfExists(std::string_view table);
std::string CreateTable(std::string_view table, const std::vector<ColumnDef>& columns);
std::string CreateIndex(std::string_view table);

// The trigger column list: every column but the last two, each followed by ",".
std::string TriggerColumnList(const std::vector<ColumnDef>& mirror_columns);
// suffix is 'D', 'I' or 'U'.
std::string DropTriggerIfExists(std::string_view base, char suffix);
std::string CreateDeleteTrigger(std::string_view mirror, std::string_view event,
                                std::string_view column_list);
std::string CreateInsertTrigger(std::string_view mirror, std::string_view event,
                                std::string_view column_list);
std::string CreateUpdateTrigger(std::string_view mirror, std::string_view event,
                                std::string_view column_list);
std::string CreateMasterTrigger(std::string_view mirror, std::string_view event);

// "select count(*) from  [<table>]" (two blanks after "from").
std::string CountRows(std::string_view table);

// Statements of the replication steps.
// "WHERE [_T_IDX___]=<idx> or [_T_RRN___]=<rrn>", or "WHERE [_T_RRN___]=<rrn>" when idx is 0.
std::string WhereIdxOrRrn(int64_t idx, int64_t rrn);
std::string MarkRowsDeleted(std::string_view file, std::string_view where);  // SET 'D'
std::string DeleteRows(std::string_view file, std::string_view where);
std::string SelectMaster();
std::string SelectEvent(std::string_view file, int64_t progr);
std::string DeleteEvent(std::string_view file, int64_t progr);
std::string DeleteMaster(int64_t master_rrn);

}  // namespace torvan
