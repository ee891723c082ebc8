// torvan status: what the Torvan running in the base folder (the window or `torvan run`)
// last wrote in its status file, and whether it is still running.

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <ostream>

#include "cli/cli.h"
#include "cli/status_lines.h"
#include "control/status_file.h"
#include "core/paths.h"
#include "core/text.h"
#include "platform/process.h"
#include "replication/conflicts.h"

namespace torvan {

namespace {

void ShowStatus(CliContext& context) {
  if (!CheckFolder(context)) return;
  const Paths paths =
      context.folder.empty() ? Paths::InWorkingDirectory() : Paths::InFolder(context.folder);
  auto print = [&context](std::string_view cp1252) {
    *context.out << Cp1252ToUtf8(cp1252) << '\n';
  };
  context.exit_code = kExitFailed;
  StatusSnapshot s;
  Status r = ReadStatusFile(paths.status, &s);
  if (r.code() == Status::Code::kNotFound) {
    print("Torvan non \xE8 in esecuzione in " + paths.base + ": nessun file di stato " +
          paths.status);
    return;
  }
  if (!r.ok()) {
    *context.err << "torvan: " << Cp1252ToUtf8(r.message()) << "\n";
    return;
  }
  const int64_t now = LocalEpochMs(platform::SystemClock()->Now());
  switch (StatusLiveness(s, now, platform::ProcessAlive)) {
    case Liveness::kRunning:
      print("Torvan in esecuzione");
      context.exit_code = kExitOk;
      break;
    case Liveness::kEnded:
      print("Torvan non \xE8 in esecuzione: terminato il " + s.written);
      break;
    case Liveness::kGone:
      print("Torvan non \xE8 in esecuzione: il processo " + std::to_string(s.pid) +
            " non esiste pi\xF9 (ultimo stato del " + s.written + ")");
      break;
    case Liveness::kStale:
      print("Torvan non aggiorna lo stato da " +
            AgeText(double(std::llabs(now - s.written_ms) / 1000)) + " (ultimo stato del " +
            s.written + ")");
      break;
  }
  for (const std::string& line : StatusLines(s)) print(line);
  if (const size_t n = Conflicts::Records(paths.conflicts_log).size(); n > 0) {
    print("Conflitti: " + std::to_string(n) + " (torvan conflicts)");
  }
}

}  // namespace

void AddStatusCommand(CLI::App& app, CliContext& context) {
  CLI::App* cmd = app.add_subcommand(
      "status",
      Help("Mostra cosa ha scritto per ultimo il Torvan in esecuzione nella cartella base "
           "(TnC_STATO.DAT, ogni secondo): sincronismo, collegamenti, modifica trattenuta, "
           "eventi in attesa, ritardi, contatori; uscita 0 se \xE8 in esecuzione e "
           "aggiornato, 1 altrimenti"));
  cmd->callback([&context] { ShowStatus(context); });
}

}  // namespace torvan
