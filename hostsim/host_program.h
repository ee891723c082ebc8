// What torvan-host's FTP server says for the host server program TNM_121: the login, the
// remote command that starts it (or moves it to another port), and the texts of the
// listening ports and of the "status" control command. The server does the opening and
// closing of ports; here are the decisions and the exact texts.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "hostsim/faults.h"
#include "hostsim/ftp_session.h"
#include "hostsim/host_data.h"
#include "platform/status.h"

namespace torvan::hostsim {

// The FTP login of `user` with `password` against the host's configuration: user names
// in any case, passwords exactly as typed. A refusal fault, when one is set, is used up.
bool CheckLogin(const HostConfig& config, Faults* faults, const std::string& user,
                const std::string& password);

// Opens the host server program on `port` (0: any free port), closing the port it was on;
// `*bound` the port opened. An error leaves it where it was, and the command failed.
using MoveProgram = std::function<Status(int port, int* bound)>;

// The remote command `command` (CP1252), "CALL LIB/TNM_121 ('Pnnnnn')" with LIB the
// configuration's `server_library`. `current_port` is the port the program is on (-1:
// not started); `move` is called only when it must open another.
RemoteCommandResult RunRemoteCommand(const std::string& command, const std::string& server_library,
                                     int current_port, const MoveProgram& move);

// "ftp N" (when `ftp_port` >= 0) and a "host N" line a port: ports.txt and the head of
// the status text.
std::string PortsText(int ftp_port, const std::vector<int>& host_ports);

struct ServerCounts {
  int host_connections = 0;
  int ftp_connections = 0;
  size_t unsent = 0;    // reply bytes waiting to be sent
  int64_t refused = 0;  // connections refused for want of descriptors, since the start
};

// The answer to the "status" control command.
std::string StatusText(int ftp_port, const std::vector<int>& host_ports,
                       const ServerCounts& counts);

}  // namespace torvan::hostsim
