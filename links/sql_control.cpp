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

bool ParamsForDatabase(const Program& program, const DataBase_Rec& r, sql::ConnectionParams* params,
                       std::string* engine_text) {
  *engine_text = sql::EngineNameFor(program.settings.sql, Trim(r.Nome_DB));
  std::optional<sql::Engine> engine = sql::ParseEngine(*engine_text);
  if (!engine) return false;
  sql::ConnectionParams& p = *params;
  p.engine = *engine;
  p.database = Trim(r.Nome_DB);
  // PostgreSQL reaches the server by the record's address when it has one: the server's
  // name is the SQL Server instance's, which a name service may not know.
  p.server = p.engine == sql::Engine::kPostgres && !Trim(r.Indirizzo_DB).empty()
                 ? Trim(r.Indirizzo_DB)
                 : Trim(r.Server_DB);
  p.user = Trim(r.Utente_DB);
  p.password = Trim(Decodifica_Parametri(r.Password_DB).text);
  p.base_folder = program.paths.base;
  p.odbc_driver =
      sql::OdbcDriverFor(program.settings.sql, program.settings.parametri.Native_Client);
  // The operator's further attributes, as typed (TnC.INI holds Windows-1252; the
  // connection string is UTF-8).
  p.odbc_extra = Cp1252ToUtf8(program.settings.sql.Attributi);
  return true;
}

bool Server_SQL_Start_(Runtime& rt) {
  Program& program = rt.program;
  program.state.Collegato_SQL = false;
  std::vector<DataBase_Rec> databases;
  Status read = ReadDataBaseRecs(program.paths.database_catalogue, &databases);
  if (!read.ok()) {
    program.Scrivi_Messaggio("ERRORE nella lettura di TnC_DB.DAT: " + read.message());
    return false;
  }
  // Every engine is known before anything is opened.
  std::vector<sql::ConnectionParams> all(databases.size());
  for (size_t k = 0; k < databases.size(); ++k) {
    std::string engine;
    if (!ParamsForDatabase(program, databases[k], &all[k], &engine)) {
      program.Scrivi_Messaggio("ERRORE: motore SQL \"" + engine + "\" di " +
                               DatabaseName(databases[k]) +
                               " sconosciuto (SQLite, ODBC o PostgreSQL)");
      return false;
    }
  }
  if (rt.connessioni.size() != int(databases.size())) rt.connessioni.Resize(int(databases.size()));

  for (int n = 1; n <= int(databases.size()); ++n) {
    const DataBase_Rec& r = databases[size_t(n - 1)];
    rt.connessioni.Set(n, rt.link.new_connection(all[size_t(n - 1)]));
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
