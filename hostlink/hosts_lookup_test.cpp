#include "hostlink/hosts_lookup.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>

#include "platform/file.h"
#include "platform/temp_folder.h"

namespace torvan {
namespace {

class HostsLookupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = folder_.path();
    path_ = dir_ + "/hosts";
    setenv("TORVAN_HOSTS_FILE", path_.c_str(), 1);
  }
  void TearDown() override { unsetenv("TORVAN_HOSTS_FILE"); }
  void Hosts(const std::string& text) {
    ASSERT_TRUE(platform::WriteFileAtomic(path_, text, 0644).ok());
  }
  platform::TempFolder folder_{"torvan-test"};
  std::string dir_, path_;
};

TEST_F(HostsLookupTest, FindsTheNameWithoutRegardToCase) {
  Hosts("127.0.0.1 localhost\r\n10.0.0.5   sysorig\r\n");
  EXPECT_EQ("10.0.0.5", AddressText(Hosts_Lookup("SYSORIG")));
}

TEST_F(HostsLookupTest, AnAddressInNoLineIsParsedDirectly) {
  Hosts("127.0.0.1 localhost\n");
  EXPECT_EQ("192.168.1.20", AddressText(Hosts_Lookup("192.168.1.20")));
}

TEST_F(HostsLookupTest, ACommentMentioningTheNameFirstGivesZero) {
  Hosts("# sysorig moved on Monday\n10.0.0.5 sysorig\n");
  EXPECT_EQ(0u, Hosts_Lookup("sysorig"));
}

TEST_F(HostsLookupTest, ANameInsideALongerNameMatchesThatLine) {
  Hosts("10.0.0.6 sysorig\n10.0.0.7 orig\n");
  EXPECT_EQ("10.0.0.6", AddressText(Hosts_Lookup("ORIG")));
}

TEST_F(HostsLookupTest, UnknownNamesEmptyNamesAndAMissingFileGiveZero) {
  Hosts("10.0.0.5 sysorig\n");
  EXPECT_EQ(0u, Hosts_Lookup("nowhere"));
  EXPECT_EQ(0u, Hosts_Lookup(""));
  std::system(("rm -f " + path_).c_str());
  Status s;
  EXPECT_EQ(0u, Hosts_Lookup("sysorig", &s));
  EXPECT_FALSE(s.ok());
  EXPECT_EQ("10.0.0.1", AddressText(Hosts_Lookup("10.0.0.1")));
}

TEST(DottedAddress, OnlyFourDecimalPartsMakeAnAddress) {
  EXPECT_EQ("1.2.3.4", AddressText(ParseDottedAddress(" 1 . 2.3.4 ")));
  EXPECT_EQ(0u, ParseDottedAddress("1.2.3"));
  EXPECT_EQ(0u, ParseDottedAddress("1.2.3.4.5"));
  EXPECT_EQ(0u, ParseDottedAddress("1.2.3.256"));
  EXPECT_EQ(0u, ParseDottedAddress("1..3.4"));
  EXPECT_EQ(0u, ParseDottedAddress("a.b.c.d"));
  EXPECT_EQ("10.0.0.6", AddressText(ParseDottedAddress("10.0.0.6 sys")));
}

}  // namespace
}  // namespace torvan
