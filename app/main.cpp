// torvan: the command line. With no command (only "--dir DIR") it opens the window, which
// is the program torvan-gui beside it (package torvan-gui): the command line and the
// service need none of the window system's libraries.
#include <limits.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli.h"
#include "platform/process.h"

// Built with AddressSanitizer (TORVAN_SANITIZE): Qt's libraries keep a few allocations until
// the process ends, which the leak check would report as Torvan's.
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

// The folder of this program, from /proc/self/exe; empty when it cannot be read.
std::string OwnFolder() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  const std::string self(path, size_t(n));
  return self.substr(0, self.rfind('/'));
}

}  // namespace

int main(int argc, char** argv) {
  torvan::platform::KeepFreedMemoryForReuse();
  std::string folder;
  if (!OpensTheWindow(argc, argv, &folder)) return torvan::RunCli(argc, argv, std::cout, std::cerr);
  torvan::CliContext context{folder, &std::cout, &std::cerr};
  if (!torvan::CheckFolder(context)) return context.exit_code;
  const std::string gui = OwnFolder() + "/torvan-gui";
  std::vector<char*> args(argv, argv + argc + 1);
  args[0] = const_cast<char*>(gui.c_str());
  ::execv(gui.c_str(), args.data());
  std::cerr << "torvan: la finestra \xC3\xA8 il programma torvan-gui, che qui manca (" << gui
            << "): sudo apt install torvan-gui; per replicare senza finestra: torvan run\n";
  return torvan::kExitUsage;
}
