// Connessioni: one connection per database of the catalogue, numbered like the records of
// TnC_DB.DAT (entry 0 is never used), and Errori_SQL, which writes a connection's errors
// to the message log.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "core/program.h"
#include "sql/connection.h"

namespace torvan {

class Connessioni {
 public:
  // Sizes the list to databases 1..n, all empty.
  void Resize(int n) { list_.clear(), list_.resize(size_t(n) + 1); }
  int size() const { return int(list_.size()) - 1; }
  // Connection n, or nullptr when n is out of range or the entry is empty.
  sql::Connection* at(int n) const {
    return (n >= 1 && n < int(list_.size())) ? list_[size_t(n)].get() : nullptr;
  }
  void Set(int n, std::unique_ptr<sql::Connection> c) {
    if (n >= 1 && n < int(list_.size())) list_[size_t(n)] = std::move(c);
  }

 private:
  std::vector<std::unique_ptr<sql::Connection>> list_{1};
};

// For each error of connection n, five lines ("Errore Numero  : ", "  Descrizione  : ",
// "  Provenienza  : ", "  Stato SQL    : ", "  Errore nativo: "), then "Totale errori  : "
// and the count; clears the list and lets events run. A missing connection has no errors.
// The source line says whose the number is: "  Provenienza  : SQLite (codice SQLite)".
void Errori_SQL(Program& program, const Connessioni& connessioni, int n);
// The same lines for a list of errors kept from a failure.
void Errori_SQL(Program& program, const std::vector<sql::SqlError>& errors);

// Connection n, open: one that a failure of its link closed (or that reports it is not
// open while the links are up) is opened again, with "   DataBase <label> ricollegato".
// False when it is not there or does not open: its errors are then in its error list.
bool ReopenIfLost(Program& program, Connessioni& connessioni, int n, std::string_view label);

// "codice SQLite", "errore nativo ODBC", "numero SQL Server", "numero SQL Server dato dal
// dialetto SQLite" or "errore di Torvan".
std::string_view OriginText(sql::ErrorOrigin origin);

}  // namespace torvan
