// torvan: with no command the desktop program (the window); with a command the command
// line. "--dir DIR" chooses the base folder for both.
#include <iostream>
#include <string>
#include <string_view>

#include "cli/cli.h"
#include "windows/desktop.h"

// Built with AddressSanitizer (TORVAN_SANITIZE): the window system's libraries keep a
// few allocations until the process ends, which the leak check would report as Torvan's.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\nleak:libfontconfig.so\nleak:libxcb\n";
}
#endif

namespace {

// True when the arguments hold no command, only "--dir DIR" (or "--dir=DIR"); the folder
// goes to `folder`.
bool OpensTheWindow(int argc, char** argv, std::string* folder) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--dir" && i + 1 < argc) {
      *folder = argv[++i];
    } else if (arg.rfind("--dir=", 0) == 0) {
      *folder = std::string(arg.substr(6));
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder;
  if (!OpensTheWindow(argc, argv, &folder)) return torvan::RunCli(argc, argv, std::cout, std::cerr);
  torvan::CliContext context{folder, &std::cout, &std::cerr};
  if (!torvan::CheckFolder(context)) return context.exit_code;
  return torvan::RunDesktop(argc, argv, folder);
}
