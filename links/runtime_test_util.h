// Test helper: Torvan's program and runtime in a temporary folder on fake clock and timers.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "links/runtime.h"
#include "platform/fakes.h"
#include "platform/temp_folder.h"

namespace torvan::testing {

class RuntimeTest : public ::testing::Test {
 protected:
  // `pump_sleeps_on_clock`: a pause of the pump moves the fake clock on.
  explicit RuntimeTest(bool pump_sleeps_on_clock = false)
      : dir_(folder_.path()),
        pump_(pump_sleeps_on_clock ? &clock_ : nullptr),
        program_(Paths::InFolder(dir_), &clock_, &pump_),
        rt_(program_) {
    program_.log.on_status_line = [this](std::string_view l) { lines_.emplace_back(l.substr(11)); };
  }
  bool Has(const std::string& line) const {
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
  }
  int CountLines(const std::string& line) const {
    return int(std::count(lines_.begin(), lines_.end(), line));
  }

  platform::TempFolder folder_{"torvan-test"};
  std::string dir_;
  platform::FakeClock clock_;
  platform::FakeTimers timers_{clock_};
  platform::FakePump pump_;
  Program program_;
  Runtime rt_;
  std::vector<std::string> lines_;
};

}  // namespace torvan::testing
