// Carica_File: rebuilds the catalogue files from the host every time the link opens.
//
// The host serves three lists one entry per request: the databases ("3"), the replicated
// files ("1") and the fields of each file ("2"); an outcome other than "0" ends a list and
// an entry whose first position is not a blank is skipped. A read error ends only the list
// being read, with its message; the load goes on with the next list.
#pragma once

#include "catalogue/catalogue.h"
#include "core/program.h"
#include "hostlink/socket_layer.h"

namespace torvan {

// Deletes and rewrites TnC_DB.DAT, TnC_FILE.DAT and the TnC_F_nnnnn.DAT files, scrambling
// each database password, and sets catalogue.N_DB and catalogue.DB_Ritorno. True when the
// load ran to its end (lists cut short by read errors included). False, after the message
// "Errore generico in Carica_File", when the host listed no database, listed a file
// replicated back whose database it did not list, sent an entry that cannot be decoded,
// or a catalogue file could not be written; the in-memory catalogue is then left as it
// was.
bool Carica_File(Program& program, hostlink::SocketLayer& socket, Catalogue& catalogue);

}  // namespace torvan
