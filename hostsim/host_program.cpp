#include "hostsim/host_program.h"

#include "core/text.h"
#include "hostsim/log.h"

namespace torvan::hostsim {

namespace {

constexpr char kServerProgram[] = "TNM_121";
// Ports an RCMD may name (besides 0, any free port): the privileged ones are not the
// host server program's to take.
constexpr int kMinProgramPort = 1024;
constexpr int kMaxPort = 65535;

}  // namespace

bool CheckLogin(const HostConfig& config, Faults* faults, const std::string& user,
                const std::string& password) {
  if (faults->TakeLoginRefusal()) {
    Log("FTP login of " + Cp1252ToUtf8(user) + " refused by an injected fault");
    return false;
  }
  // As an IBM i at password level 2 or 3, and most FTP servers, it tells "Torvan1" from
  // "TORVAN1".
  bool ok = UpperCp1252(user) == UpperCp1252(config.user) && password == config.password;
  Log("FTP login of " + Cp1252ToUtf8(user) + (ok ? " accepted" : " rejected"));
  return ok;
}

RemoteCommandResult RunRemoteCommand(const std::string& command, const std::string& server_library,
                                     int current_port, const MoveProgram& move) {
  std::string library, program;
  int port = 0;
  const std::string shown = Cp1252ToUtf8(command);
  if (!ParseCallCommand(command, &library, &program, &port) ||
      library != UpperCp1252(server_library) || program != kServerProgram) {
    Log("RCMD refused: " + shown);
    return {false, "Command " + shown + " not accepted."};
  }
  if (port != 0 && (port < kMinProgramPort || port > kMaxPort)) {
    Log("RCMD refused, port outside " + std::to_string(kMinProgramPort) + "-" +
        std::to_string(kMaxPort) + ": " + shown);
    return {false, "Command " + shown + " not accepted: port " + std::to_string(port) +
                       " outside " + std::to_string(kMinProgramPort) + "-" +
                       std::to_string(kMaxPort) + "."};
  }
  // Any port will do for 'P00000', the one already open included.
  if (current_port >= 0 && (port == 0 || port == current_port)) {
    const std::string where = " already active on port " + std::to_string(current_port);
    Log("RCMD: " + std::string(kServerProgram) + where);
    return {true, "Command " + shown + " successful: " + kServerProgram + where + "."};
  }
  // One program, one port: it moves to the new port once that is open; when the new port
  // cannot be opened it stays where it is.
  int bound = 0;
  Status s = move(port, &bound);
  if (!s.ok()) {
    Log("RCMD failed: " + s.message());
    return {false, "Command " + shown + " failed: " + s.message()};
  }
  const std::string moved =
      current_port >= 0 ? " (no longer on port " + std::to_string(current_port) + ")" : "";
  const std::string where = " started on port " + std::to_string(bound) + moved;
  Log("RCMD: " + std::string(kServerProgram) + where);
  return {true, "Command " + shown + " successful: " + kServerProgram + where + "."};
}

std::string PortsText(int ftp_port, const std::vector<int>& host_ports) {
  std::string text;
  if (ftp_port >= 0) text += "ftp " + std::to_string(ftp_port) + "\n";
  for (int p : host_ports) text += "host " + std::to_string(p) + "\n";
  return text;
}

std::string StatusText(int ftp_port, const std::vector<int>& host_ports,
                       const ServerCounts& counts) {
  return PortsText(ftp_port, host_ports) + "connections host " +
         std::to_string(counts.host_connections) + " ftp " +
         std::to_string(counts.ftp_connections) + "\n" + "unsent " + std::to_string(counts.unsent) +
         "\n" + "refused " + std::to_string(counts.refused) + "\n";
}

}  // namespace torvan::hostsim
