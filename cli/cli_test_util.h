// For the tests that run torvan as an operator does: its folder, commands, their output.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/temp_folder.h"
#include "replication/testing/host_process.h"

namespace torvan::testing {

// The parts that `text` lacks, one a line: "" when it has them all.
inline std::string Missing(const std::string& text, std::initializer_list<std::string> parts) {
  std::string missing;
  for (const std::string& part : parts) {
    if (!Has(text, part)) missing += part + "\n";
  }
  return missing;
}

// The messages of an output, without their "hh:nn:ss - " stamps.
inline std::vector<std::string> Messages(const std::string& out) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < out.size();) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(start, end - start);
    if (line.size() > 11 && line[2] == ':' && line.compare(8, 3, " - ") == 0) {
      lines.push_back(line.substr(11));
    }
    start = end + 1;
  }
  return lines;
}

// How many times `part` occurs in `text`.
inline int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

inline int Count(const std::vector<std::string>& lines, const std::string& line) {
  return int(std::count(lines.begin(), lines.end(), line));
}

// Torvan's folder pc_ (its hosts file in it) in a temporary folder, and torvan run there.
class TorvanFolderTest : public ::testing::Test {
 protected:
  TorvanFolderTest() {
    std::filesystem::create_directories(pc_);
    setenv("TORVAN_HOSTS_FILE", (pc_ + "/hosts").c_str(), 1);
  }
  ~TorvanFolderTest() override { unsetenv("TORVAN_HOSTS_FILE"); }

  // torvan --dir pc_ `args`, with `env` ("NAME=value") added.
  ProcessResult Torvan(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    args.insert(args.begin(), {TORVAN_EXE, "--dir", pc_});
    return RunProcess(args, env);
  }
  // The same, `args` read by the shell.
  ProcessResult Run(const std::string& args) {
    return RunProcess({"/bin/sh", "-c", std::string(TORVAN_EXE) + " --dir " + pc_ + " " + args});
  }
  // torvan `args` (read by the shell): its exit status and each of `said` in its output.
  ProcessResult Expect(const std::string& args, int exit_code,
                       std::initializer_list<std::string> said = {}) {
    ProcessResult r = Run(args);
    EXPECT_EQ(exit_code, r.exit_code) << args << "\n" << r.out << r.err;
    EXPECT_EQ("", Missing(r.out + r.err, said)) << args << "\n" << r.out << r.err;
    return r;
  }
  void CopyCharTable() { std::filesystem::copy_file(TORVAN_CHAR_TABLE, pc_ + "/TnC_TBL1.Tbl"); }

  platform::TempFolder folder_{"torvan-cli"};
  const std::string pc_ = folder_ / "pc";
};

}  // namespace torvan::testing
