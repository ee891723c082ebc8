#include "schema/connections.h"

namespace torvan {

std::string_view OriginText(sql::ErrorOrigin origin) {
  switch (origin) {
    case sql::ErrorOrigin::kSqlite:
      return "codice SQLite";
    case sql::ErrorOrigin::kOdbc:
      return "errore nativo ODBC";
    case sql::ErrorOrigin::kSqlServer:
      return "numero SQL Server";
    case sql::ErrorOrigin::kDialect:
      return "numero SQL Server dato dal dialetto SQLite";
    case sql::ErrorOrigin::kPostgres:
      return "SQLSTATE di PostgreSQL";
    case sql::ErrorOrigin::kTorvan:
      break;
  }
  return "errore di Torvan";
}

void Errori_SQL(Program& program, const std::vector<sql::SqlError>& errors) {
  for (const sql::SqlError& e : errors) {
    program.Scrivi_Messaggio("Errore Numero  : " + std::to_string(e.number));
    program.Scrivi_Messaggio("  Descrizione  : " + e.description);
    program.Scrivi_Messaggio("  Provenienza  : " + e.source + " (" +
                             std::string(OriginText(e.origin)) + ")");
    program.Scrivi_Messaggio("  Stato SQL    : " + e.sql_state);
    program.Scrivi_Messaggio("  Errore nativo: " + std::to_string(e.native_error));
  }
  program.Scrivi_Messaggio("Totale errori  : " + std::to_string(errors.size()));
  program.ProcessEvents();
}

void Errori_SQL(Program& program, const Connessioni& connessioni, int n) {
  sql::Connection* c = connessioni.at(n);
  const std::vector<sql::SqlError> errors =
      c != nullptr ? c->Errors() : std::vector<sql::SqlError>{};
  if (c != nullptr) c->ClearErrors();
  Errori_SQL(program, errors);
}

bool ReopenIfLost(Program& program, Connessioni& connessioni, int n, std::string_view label) {
  sql::Connection* c = connessioni.at(n);
  if (c == nullptr) return false;
  if (c->IsOpen()) return true;
  if (!c->Open().ok()) return false;
  program.Scrivi_Messaggio("   DataBase " + std::string(label) + " ricollegato");
  return true;
}

}  // namespace torvan
