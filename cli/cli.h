// The `torvan` command line. Each subcommand lives in its own file and registers itself
// with the CLI11 application through a function declared here.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace CLI {
class App;
}

namespace torvan {
struct Program;
}

namespace torvan {

// Exit statuses of the command line.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the work ran and did not succeed
constexpr int kExitUsage = 2;   // refused before doing anything: bad command or argument
// A one-shot command that SIGINT or SIGTERM ended exits 128 + the signal, as the shell does.

struct CliContext {
  std::string folder;  // --dir, empty for the current working directory
  std::ostream* out;
  std::ostream* err;
  int exit_code = kExitOk;
  // The command ends on SIGINT and SIGTERM as its normal end (`torvan run`): no "interrotto".
  bool ends_on_signal = false;
};

void AddSettingsCommand(CLI::App& app, CliContext& context);
void AddFieldsCommand(CLI::App& app, CliContext& context);
void AddCatalogueCommand(CLI::App& app, CliContext& context);
void AddSchemaCommands(CLI::App& app, CliContext& context);
void AddRunCommands(CLI::App& app, CliContext& context);
void AddStatusCommand(CLI::App& app, CliContext& context);

// Runs the command line; returns the process exit status.
int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err);

// Checks that the base folder exists; prints the refusal and returns false otherwise.
bool CheckFolder(CliContext& context);

// Prints "torvan: <text>" (Windows-1252) on standard error and sets the exit status.
void Refuse(CliContext& context, std::string_view cp1252, int exit_code);

// A text of the command line's help, written in Windows-1252 like every text of Torvan,
// as the terminal shows it (UTF-8).
std::string Help(std::string_view cp1252);

// "un altro Torvan lavora in questa cartella (<locked> è bloccato)"; `folder` names it.
std::string AnotherTorvan(const std::string& folder, const std::string& locked);

// A file number typed by the operator: decimal digits, 1 to 999999999.
bool ParseFileNumber(const std::string& text, int* n);
// "il catalogo ha <count> file: <n> non c'è", or, with no catalogue at all, what to run.
std::string NoSuchFile(int n, int count);

// False, after saying that no host is set and how to set it (exit 2), when the settings
// name no source server (Nome_Connessione empty).
bool HostNamed(CliContext& context, const Program& program);

// For a command that changes the base folder (its settings, catalogue or tables): checks
// the folder and takes its lock, held while `*lock` lives. When another Torvan works there,
// prints "torvan: un altro Torvan lavora in questa cartella (pid N, torvan run)" (from its
// status file), sets exit status 1 and returns false.
bool LockFolder(CliContext& context, std::unique_ptr<platform::FolderLock>* lock);

}  // namespace torvan
