#include "links/sql_control.h"

#include "catalogue/catalogue_files.h"
#include "config/scramble.h"
#include "core/text.h"

namespace torvan {

namespace {

std::string DatabaseName(const DataBase_Rec& r) {
  return Trim(r.Server_DB) + "/" + Trim(r.Nome_DB);
}

}  // namespace

bool Server_SQL_Start_(Runtime& rt) {
  Program& program = rt.program;
  program.state.Collegato_SQL = false;
  std::vector<DataBase_Rec> databases;
  Status read = ReadDataBaseRecs(program.paths.database_catalogue, &databases);
  if (!read.ok()) {
    program.Scrivi_Messaggio("ERRORE nella lettura di TnC_DB.DAT: " + read.message());
    return false;
  }
  std::optional<sql::Engine> engine = sql::ParseEngine(program.settings.sql.Motore);
  if (!engine) {
    program.Scrivi_Messaggio("ERRORE: motore SQL \"" + program.settings.sql.Motore +
                             "\" sconosciuto (SQLite o ODBC)");
    return false;
  }
  if (rt.connessioni.size() != int(databases.size())) rt.connessioni.Resize(int(databases.size()));

  for (int n = 1; n <= int(databases.size()); ++n) {
    const DataBase_Rec& r = databases[size_t(n - 1)];
    sql::ConnectionParams params;
    params.engine = *engine;
    params.database = Trim(r.Nome_DB);
    params.server = Trim(r.Server_DB);
    params.user = Trim(r.Utente_DB);
    params.password = Trim(Decodifica_Parametri(r.Password_DB).text);
    params.base_folder = program.paths.base;
    params.odbc_driver =
        sql::OdbcDriverFor(program.settings.sql, program.settings.parametri.Native_Client);
    // The operator's further attributes, as typed (TnC.INI holds Windows-1252; the
    // connection string is UTF-8).
    params.odbc_extra = Cp1252ToUtf8(program.settings.sql.Attributi);
    rt.connessioni.Set(n, rt.link.new_connection(params));
    if (!rt.connessioni.at(n)->Open().ok()) {
      Errori_SQL(program, rt.connessioni, n);
      return false;
    }
    program.Scrivi_Messaggio("   DataBase " + DatabaseName(r) + " collegato");
  }
  program.state.Collegato_SQL = true;
  program.ProcessEvents();
  return true;
}

bool Server_SQL_Stop_(Runtime& rt) {
  Program& program = rt.program;
  std::vector<DataBase_Rec> databases;
  (void)ReadDataBaseRecs(program.paths.database_catalogue, &databases);
  for (int n = 1; n <= int(databases.size()); ++n) {
    if (sql::Connection* c = rt.connessioni.at(n)) c->Close();
    rt.connessioni.Set(n, nullptr);
    program.Scrivi_Messaggio("   DataBase " + DatabaseName(databases[size_t(n - 1)]) +
                             " scollegato");
  }
  program.state.Collegato_SQL = false;
  program.ProcessEvents();
  return true;
}

}  // namespace torvan
