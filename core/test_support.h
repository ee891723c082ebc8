// For the tests of a Program: a fresh base folder, a fake clock (05/12/2026 14:05:09) and
// pump, and the status lines said from the call of StatusLines() on, without their time.
#pragma once

#include <string>
#include <vector>

#include "core/program.h"
#include "platform/fakes.h"
#include "platform/temp_folder.h"

namespace torvan {

class ProgramFixture {
 protected:
  std::vector<std::string>& StatusLines() {
    program_.log.on_status_line = [this](std::string_view l) { lines_.emplace_back(l.substr(11)); };
    return lines_;
  }

  platform::TempFolder folder_{"torvan-test"};
  std::string dir_ = folder_.path();
  platform::FakeClock clock_;
  platform::FakePump pump_;
  Program program_{Paths::InFolder(dir_), &clock_, &pump_};
  std::vector<std::string> lines_;
};

}  // namespace torvan
