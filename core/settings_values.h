// The operator's settings as the program uses them: the record `Parametri`, decoded from
// the scrambled parameter string of TnC.INI, and the values derived from it. The reader
// (config/settings.h) fills them; every subsystem reads them.
#pragma once

#include <cstdint>
#include <string>

namespace torvan {

struct Parametri {
  std::string Nome_Connessione;   // host name or IPv4 address of the source server
  std::string Utente;             // host user, upper case
  std::string Password;           // its password, upper case
  int32_t Porta = 0;              // port of the host server program
  int32_t Attesa_Sincronizz = 0;  // ms between two empty polls; 0 = no pause
  int32_t Attesa_Dopo_Start = 0;  // minutes after the host's start time
  int32_t Attesa_Prima_Stop = 0;  // minutes before the host's stop time
  int32_t Ciclo_Sincronizz = 0;   // replication cycle in ms, at least 500
  std::string Libreria;           // host library of the server program
  int32_t Porta_FTP = 0;          // FTP port of the host
  bool Log_Su_File = false;       // also append the message log to TnC.Log
  bool Native_Client = false;     // SQL connections use the native client driver
  int32_t Attesa_Restart = 0;     // restart interval in minutes; 0 = the host's calendar
  bool Log_PC_AS = false;         // write TnC_PC_AS.Log
};

// How the SQL databases are reached (section "SQL" of TnC.INI).
struct SqlSettings {
  std::string Motore = "SQLite";  // "SQLite", "ODBC" or "PostgreSQL": every database's engine
  // Key "Motori": the engine of single databases, "NAME=engine;..." (the database's Nome_DB,
  // ASCII case ignored); a database not named there has the engine of "Motore".
  std::string Motori;
  // The ODBC driver with Native_Client, and otherwise: a driver's name or library, or
  // "DSN=<name>" for a data source of odbc.ini (which then names the driver and server).
  std::string Driver_Nativo = "ODBC Driver 18 for SQL Server";
  std::string Driver = "FreeTDS";
  // Further "key=value;" ODBC attributes appended, unchanged, to every ODBC connection
  // string, and the libpq options of every PostgreSQL connection ("port=5433;
  // sslmode=require;") (key "Attributi"). Empty by default.
  std::string Attributi;
};

struct Settings {
  Parametri parametri;
  // Derived by the reader.
  int32_t Attesa_Riprova = 0;   // retry interval in minutes (restart mode)
  float Margine_Start = 0;      // Attesa_Dopo_Start as a fraction of a day
  float Margine_Stop = 0;       // Attesa_Prima_Stop as a fraction of a day
  uint32_t Indirizzo_Host = 0;  // IPv4 of Nome_Connessione in network byte order, or 0
  // "2": the PC clock follows the host clock at every time exchange (key "ClockMode" of
  // section "Generale"); any other value leaves the PC clock alone.
  std::string ClockMode;
  // Key "Durevole" of section "Generale", "1": the journal of host changes and the pending
  // file are flushed to the disk at every write; "0" (the default) leaves that to the
  // system.
  bool Durevole = false;
  // Key "Conflitti" of section "Generale": who wins when both sides changed one row before
  // either change reached the other, "HOST" (the default) or "PC".
  bool Vince_Il_Pc = false;
  // Key "Finestra_Conflitti" of section "Generale": for how many seconds after an event is
  // sent a host change of its record is a possible conflict (default 120).
  int32_t Finestra_Conflitti = 120;
  // Key "Metriche" of section "Generale": the port where a running Torvan serves its
  // figures to Prometheus (GET /metrics); 0 (the default) serves none.
  int32_t Metriche = 0;
  // Key "Metriche_Indirizzo" of section "Generale": the IPv4 or IPv6 address the metrics
  // server listens on.
  std::string Metriche_Indirizzo = "127.0.0.1";
  // Keys of section "Generale" that bound the host-to-SQL journal
  // (replication/host_to_sql.h): the changes asked for in a row and applied in one
  // transaction ("Lotto_Modifiche"), the milliseconds within which they are asked for
  // ("Lotto_Ms"), and the changes and bytes received and not applied beyond which no more
  // are asked for ("Giornale_Modifiche", "Giornale_Byte").
  int64_t Lotto_Modifiche = 200;
  int64_t Lotto_Ms = 200;
  int64_t Giornale_Modifiche = 10000;
  int64_t Giornale_Byte = int64_t(64) << 20;
  SqlSettings sql;
};

}  // namespace torvan
