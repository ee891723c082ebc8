#include "cli/cli.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <ostream>

#include "control/status_file.h"
#include "core/paths.h"
#include "core/text.h"

namespace torvan {

bool CheckFolder(CliContext& context) {
  if (context.folder.empty()) return true;
  struct stat st {};
  if (stat(context.folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  *context.err << "torvan: the folder \"" << context.folder << "\" does not exist\n";
  context.exit_code = kExitUsage;
  return false;
}

bool LockFolder(CliContext& context, std::unique_ptr<platform::FolderLock>* lock) {
  if (!CheckFolder(context)) return false;
  const Paths paths =
      context.folder.empty() ? Paths::InWorkingDirectory() : Paths::InFolder(context.folder);
  bool held = false;
  Status s = platform::FolderLock::Take(paths.base, lock, &held);
  if (s.ok()) return true;
  context.exit_code = kExitFailed;
  if (!held) {
    *context.err << "torvan: " << Cp1252ToUtf8(s.message()) << "\n";
    return false;
  }
  std::string who = "pid sconosciuto";
  StatusSnapshot status;
  if (ReadStatusFile(paths.status, &status).ok() && !status.ended && ProcessAlive(status.pid)) {
    who = "pid " + std::to_string(status.pid) + ", " + status.front_end;
  }
  *context.err << Cp1252ToUtf8("torvan: un altro Torvan lavora in questa cartella (" + who +
                               "): fermarlo prima")
               << "\n";
  return false;
}

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err) {
  CLI::App app{"Torvan keeps SQL tables in step with the physical files of an IBM i host.",
               "torvan"};
  app.require_subcommand(1);
  app.footer("Without a command, torvan opens its window (in DIR with --dir).");
  CliContext context{"", &out, &err};
  app.add_option("--dir", context.folder,
                 "Work in DIR as the base folder (settings, catalogue and logs); "
                 "default: the current working directory");
  AddSettingsCommand(app, context);
  AddCatalogueCommand(app, context);
  AddFieldsCommand(app, context);
  AddSchemaCommands(app, context);
  AddRunCommands(app, context);
  AddStatusCommand(app, context);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    out << app.help();
    return kExitOk;
  } catch (const CLI::CallForAllHelp& e) {
    out << app.help("", CLI::AppFormatMode::All);
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    err << "torvan: " << e.what() << "\n"
        << "Run torvan --help for the commands.\n";
    return kExitUsage;
  }
  return context.exit_code;
}

}  // namespace torvan
