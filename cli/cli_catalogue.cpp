// torvan catalogue: open the host link, load the catalogue, close the link.
// torvan fields N: the browser's field view of file N, from the local catalogue files.

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "browser/grid.h"
#include "catalogue/catalogue_files.h"
#include "cli/cli.h"
#include "cli/console.h"
#include "core/text.h"
#include "links/link_control.h"
#include "links/runtime.h"

namespace torvan {

void AddCatalogueCommand(CLI::App& app, CliContext& context) {
  CLI::App* cmd = app.add_subcommand(
      "catalogue",
      Help("Apre il collegamento con l'host, carica il catalogo dall'host in TnC_DB.DAT, "
           "TnC_FILE.DAT e TnC_F_nnnnn.DAT, lo costruisce in memoria, chiude il collegamento; "
           "uscita 0 se il collegamento si \xE8 aperto e il catalogo \xE8 caricato"));
  cmd->callback([&context] {
    std::unique_ptr<platform::FolderLock> lock;
    if (!LockFolder(context, &lock)) return;
    ConsoleSession session(context.folder, *context.out);
    if (!HostNamed(context, session.program())) return;
    Runtime rt(session.program());
    bool up = Server_AS_Start(rt);
    Server_AS_Stop(rt);
    context.exit_code = up ? kExitOk : kExitFailed;
  });
}

void AddFieldsCommand(CLI::App& app, CliContext& context) {
  CLI::App* cmd = app.add_subcommand(
      "fields",
      Help("Stampa i campi del file N del catalogo (separati da tabulazioni, intestazione "
           "prima)"));
  auto n = std::make_shared<std::string>();
  cmd->add_option("N", *n, Help("Numero del file: il suo record in TnC_FILE.DAT, da 1"))
      ->required();
  cmd->callback([&context, n] {
    if (!CheckFolder(context)) return;
    // Messages (a settings file that is not one) go to standard error: the table alone
    // goes to standard output.
    ConsoleSession session(context.folder, *context.err);
    const Paths& paths = session.program().paths;
    std::vector<File_Rec> files;
    (void)ReadFileRecs(paths.file_catalogue, &files);  // missing: none
    int number = 0;
    if (!ParseFileNumber(*n, &number)) {
      return Refuse(context, "\"" + Utf8ToCp1252(*n) + "\" non \xE8 un numero di file (da 1)",
                    kExitUsage);
    }
    if (size_t(number) > files.size()) {
      return Refuse(context, NoSuchFile(number, int(files.size())), kExitUsage);
    }
    bool has_pc_as = false;
    Grid list = Elenco_File(
        paths, [](int32_t, std::string_view) { return RowCount::Absent(); }, &has_pc_as);
    Grid fields = Visualizza_Campi(paths, number, FieldViewCaption(list, size_t(number)));
    *context.out << Cp1252ToUtf8(fields.ToTabText()) << std::flush;
  });
}

}  // namespace torvan
