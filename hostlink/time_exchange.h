// The time exchange with the host: the P request (calendar mode) or the T request
// (restart mode) that tells when the host server goes down and comes back, and the host's
// clock. Made at every link start and, every few minutes, by the replication step.
#pragma once

#include <string>
#include <string_view>

#include "core/program.h"
#include "hostlink/socket_layer.h"

namespace torvan::hostlink {

// Runs the exchange under `routine` ("Server_AS_Start" or "Server_SQL_Sincro"): P when
// Attesa_Restart is 0, T otherwise, counting empty polls in Ritardo_Link. Sets
// HostStopTime, HostRestartTime and the status display's shutdown and restart texts; with
// ClockMode "2" sets the PC clock from the host's (a clock the PC refuses to set, or a
// host clock that is not a valid date and time, is left alone). A failed exchange has
// written its message and changes nothing; the result says whether it was served.
bool TimeExchange(Program& program, SocketLayer& socket, std::string_view routine);

// "yyyymmddhhnnss" shown as "dd/mm/yy  hh:nn".
std::string HostTimeDisplay(std::string_view yyyymmddhhnnss);

}  // namespace torvan::hostlink
