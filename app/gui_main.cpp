// torvan-gui: the desktop program, the operator's window. "--dir DIR" chooses the base
// folder; `torvan` with no command starts it.
#include <iostream>
#include <string>
#include <string_view>

#include "cli/cli.h"
#include "platform/process.h"
#include "windows/desktop.h"

// Built with AddressSanitizer (TORVAN_SANITIZE): the window system's libraries keep a
// few allocations until the process ends, which the leak check would report as Torvan's.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\nleak:libfontconfig.so\nleak:libxcb\n";
}
#endif

int main(int argc, char** argv) {
  torvan::platform::KeepFreedMemoryForReuse();
  std::string folder;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--dir" && i + 1 < argc) {
      folder = argv[++i];
    } else if (arg.rfind("--dir=", 0) == 0) {
      folder = std::string(arg.substr(6));
    } else {
      std::cerr << "torvan-gui: uso: torvan-gui [--dir DIR]; i comandi: torvan --help\n";
      return torvan::kExitUsage;
    }
  }
  torvan::CliContext context{folder, &std::cout, &std::cerr};
  if (!torvan::CheckFolder(context)) return context.exit_code;
  return torvan::RunDesktop(argc, argv, folder);
}
