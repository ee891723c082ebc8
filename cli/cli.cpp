#include "cli/cli.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <ostream>

namespace torvan {

bool CheckFolder(CliContext& context) {
  if (context.folder.empty()) return true;
  struct stat st {};
  if (stat(context.folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  *context.err << "torvan: the folder \"" << context.folder << "\" does not exist\n";
  context.exit_code = kExitUsage;
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
