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
    case sql::ErrorOrigin::kTorvan:
      break;
  }
  return "errore di Torvan";
}

void Errori_SQL(Program& program, const Connessioni& connessioni, int n) {
  sql::Connection* c = connessioni.at(n);
  size_t count = 0;
  if (c != nullptr) {
    for (const sql::SqlError& e : c->Errors()) {
      program.Scrivi_Messaggio("Errore Numero  : " + std::to_string(e.number));
      program.Scrivi_Messaggio("  Descrizione  : " + e.description);
      program.Scrivi_Messaggio("  Provenienza  : " + e.source + " (" +
                               std::string(OriginText(e.origin)) + ")");
      program.Scrivi_Messaggio("  Stato SQL    : " + e.sql_state);
      program.Scrivi_Messaggio("  Errore nativo: " + std::to_string(e.native_error));
    }
    count = c->Errors().size();
    c->ClearErrors();
  }
  program.Scrivi_Messaggio("Totale errori  : " + std::to_string(count));
  program.ProcessEvents();
}

}  // namespace torvan
