// Carica_File: rebuilds the catalogue files from the host every time the link opens.
//
// The host serves three lists one entry per request: the databases ("3"), the replicated
// files ("1") and the fields of each file ("2"); an outcome other than "0" ends a list and
// an entry whose first position is not a blank is skipped.
//
// A load that does not finish is a failed load: replication reloads the catalogue at every
// link opening and throws away the changes of a file it does not know, so a catalogue that
// came short must never replace a complete one. A reply that cannot be read, an entry cut
// short, a list longer than the catalogue files can number and a catalogue file that
// cannot be written all end the load; the previous catalogue files and the in-memory
// catalogue then stay as they were. A reply that comes late cannot be taken for the next
// one: a failed read closes the link. So positions 2-21 of a field entry, which the host
// fills as it likes (library and file, file and library, blanks), are never looked at.
#pragma once

#include <cstdint>

#include "catalogue/catalogue.h"
#include "core/program.h"
#include "hostlink/host_format.h"
#include "hostlink/socket_layer.h"

namespace torvan {

// The most entries (skipped ones included) that each list may hold.
// A file's record number names its field file with five digits (TnC_F_nnnnn.DAT).
inline constexpr int32_t kMaxCatalogueFiles = 99999;
// Databases are numbered by record like the files.
inline constexpr int32_t kMaxCatalogueDatabases = 99999;
// Every field takes at least one byte of the host record, and a record's two images must
// fit one reply.
inline constexpr int32_t kMaxCatalogueFields = hostlink::change_record::kMaxRecordLength;

// Loads the three lists into a new set of TnC_DB.DAT, TnC_FILE.DAT and TnC_F_nnnnn.DAT
// (each database password scrambled) and switches it in whole (catalogue_files.h), then
// sets catalogue.N_DB and catalogue.DB_Ritorno. True when every list ran to the host's end.
//
// False, after "Errore generico in Carica_File", when a reply could not be read (after the
// exchange's "[Carica_File] Errore Sock_Read {<code>}(<n>)"; an entry too short for its
// layout is reported as "(2)"), a list went past its bound, the host listed no database
// or listed a file
// replicated back whose database it did not list, or a catalogue file could not be
// written. The catalogue files and the in-memory catalogue are then left as they were.
bool Carica_File(Program& program, hostlink::SocketLayer& socket, Catalogue& catalogue);

}  // namespace torvan
