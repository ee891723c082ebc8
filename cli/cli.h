// The `torvan` command line. Each subcommand lives in its own file and registers itself
// with the CLI11 application through a function declared here.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "platform/file.h"

namespace CLI {
class App;
}

namespace torvan {

// Exit statuses of the command line.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the work ran and did not succeed
constexpr int kExitUsage = 2;   // refused before doing anything: bad command or argument

struct CliContext {
  std::string folder;  // --dir, empty for the current working directory
  std::ostream* out;
  std::ostream* err;
  int exit_code = kExitOk;
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

// For a command that changes the base folder (its settings, catalogue or tables): checks
// the folder and takes its lock, held while `*lock` lives. When another Torvan works there,
// prints "torvan: un altro Torvan lavora in questa cartella (pid N, torvan run)" (from its
// status file), sets exit status 1 and returns false.
bool LockFolder(CliContext& context, std::unique_ptr<platform::FolderLock>* lock);

}  // namespace torvan
