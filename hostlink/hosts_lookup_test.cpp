#include "hostlink/hosts_lookup.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>

#include "platform/file.h"
#include "platform/temp_folder.h"

namespace torvan {
namespace {

// The name is any part of a line, in any case (a comment first gives zero); else parsed as is.
TEST(HostsLookup, TheFirstLineHoldingTheNameGivesItsAddress) {
  platform::TempFolder folder("torvan-test");
  const std::string path = folder / "hosts";
  setenv("TORVAN_HOSTS_FILE", path.c_str(), 1);
  const struct {
    const char* hosts;  // nullptr: no file
    const char* name;
    const char* address;  // "0.0.0.0": zero
  } rows[] = {
      {"127.0.0.1 localhost\r\n10.0.0.5   sysorig\r\n", "SYSORIG", "10.0.0.5"},
      {"127.0.0.1 localhost\n", "192.168.1.20", "192.168.1.20"},
      {"# sysorig moved on Monday\n10.0.0.5 sysorig\n", "sysorig", "0.0.0.0"},
      {"10.0.0.6 sysorig\n10.0.0.7 orig\n", "ORIG", "10.0.0.6"},
      {"10.0.0.5 sysorig\n", "nowhere", "0.0.0.0"},
      {"10.0.0.5 sysorig\n", "", "0.0.0.0"},
      {nullptr, "sysorig", "0.0.0.0"},
      {nullptr, "10.0.0.1", "10.0.0.1"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.hosts ? r.hosts : "no file") + " / " + r.name);
    std::remove(path.c_str());
    if (r.hosts != nullptr) {
      ASSERT_TRUE(platform::WriteFileAtomic(path, r.hosts, 0644).ok());
    }
    Status s;
    EXPECT_EQ(r.address, AddressText(Hosts_Lookup(r.name, &s)));
    EXPECT_EQ(r.hosts != nullptr, s.ok());
  }
  unsetenv("TORVAN_HOSTS_FILE");
}

TEST(DottedAddress, OnlyFourDecimalPartsMakeAnAddress) {
  EXPECT_EQ("1.2.3.4", AddressText(ParseDottedAddress(" 1 . 2.3.4 ")));
  EXPECT_EQ("10.0.0.6", AddressText(ParseDottedAddress("10.0.0.6 sys")));
  for (const char* bad : {"1.2.3", "1.2.3.4.5", "1.2.3.256", "1..3.4", "a.b.c.d"}) {
    EXPECT_EQ(0u, ParseDottedAddress(bad)) << bad;
  }
}

}  // namespace
}  // namespace torvan
