// torvan catalogue: open the host link, load the catalogue, close the link.
// torvan fields N: the browser's field view of file N, from the local catalogue files.

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "browser/grid.h"
#include "cli/cli.h"
#include "cli/console.h"
#include "core/text.h"
#include "links/link_control.h"
#include "links/runtime.h"

namespace torvan {

void AddCatalogueCommand(CLI::App& app, CliContext& context) {
  CLI::App* cmd = app.add_subcommand(
      "catalogue",
      "Open the host link, load the catalogue from the host into TnC_DB.DAT, TnC_FILE.DAT and "
      "TnC_F_nnnnn.DAT, build it in memory, close the link; exit status 0 when the link came "
      "up and the catalogue loaded");
  cmd->callback([&context] {
    std::unique_ptr<platform::FolderLock> lock;
    if (!LockFolder(context, &lock)) return;
    ConsoleSession session(context.folder, *context.out);
    Runtime rt(session.program());
    bool up = Server_AS_Start(rt);
    Server_AS_Stop(rt);
    context.exit_code = up ? kExitOk : kExitFailed;
  });
}

void AddFieldsCommand(CLI::App& app, CliContext& context) {
  CLI::App* cmd = app.add_subcommand(
      "fields", "Print the field view of catalogued file N (tab-separated, header first)");
  auto n = std::make_shared<int>(0);
  cmd->add_option("N", *n, "File number: its record number in TnC_FILE.DAT, from 1")
      ->required()
      ->check(CLI::PositiveNumber);
  cmd->callback([&context, n] {
    if (!CheckFolder(context)) return;
    ConsoleSession session(context.folder, *context.out);
    const Paths& paths = session.program().paths;
    bool has_pc_as = false;
    Grid list = Elenco_File(
        paths, [](int32_t, std::string_view) { return RowCount::Absent(); }, &has_pc_as);
    Grid fields = Visualizza_Campi(paths, *n, FieldViewCaption(list, size_t(*n)));
    *context.out << Cp1252ToUtf8(fields.ToTabText()) << std::flush;
  });
}

}  // namespace torvan
