// Opening and closing the host link: the main window's Server_AS_Start and
// Server_AS_Stop, called by the server start/stop commands and by the cycle.
#pragma once

#include <string>

#include "links/runtime.h"

namespace torvan {

// "CALL <library>/TNM_121 ('P<port, 5 digits>')": the command that starts the host's
// server program.
std::string HostProgramCommand(std::string_view libreria, int32_t porta);

// Starts the host server program through the FTP remote command (unless Libreria is blank
// or Porta_FTP is 0), connects to it with up to LinkOptions::attempts attempts, reads the
// greeting, makes the time exchange, loads the catalogue from the host and builds it in
// memory. True when the link is up and the catalogue loaded; LinkUp says the same. A
// character table file (TnC_TBL1.Tbl) that is missing, short or not a character table
// ends the start at once with "ERRORE nella lettura della tabella caratteri <path>:
// <fault>": no reply of the host could be read without it.
bool Server_AS_Start(Runtime& rt);

// Closes the link when it is up; always clears LinkUp and Prossimo_Tentativo. True.
bool Server_AS_Stop(Runtime& rt);

}  // namespace torvan
