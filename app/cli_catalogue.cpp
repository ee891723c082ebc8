// torvan fields N: the browser's field view of file N, from the local catalogue files.

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "app/cli.h"
#include "app/console.h"
#include "browser/grid.h"
#include "core/text.h"

namespace torvan {

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
        paths, [](int32_t, std::string_view) { return std::string(); }, &has_pc_as);
    Grid fields = Visualizza_Campi(paths, *n, FieldViewCaption(list, size_t(*n)));
    *context.out << Cp1252ToUtf8(fields.ToTabText()) << std::flush;
  });
}

}  // namespace torvan
