// What fuzzing torvan-host's readers found, pinned down: a control request reads the same
// whether it arrives whole or in pieces (a count line longer than the eight characters a
// request without its line end may hold used to be taken whole and refused in pieces).
#include <gtest/gtest.h>

#include "hostsim/ctl_client.h"

namespace torvan::hostsim {
namespace {

CtlDecode Decode(std::string_view bytes) {
  std::vector<std::string> args;
  return DecodeCtlRequest(bytes, &args);
}

TEST(CtlRequestCount, TakesAtMostEightCharactersWholeOrInPieces) {
  const std::string_view request("00000001\nqueue\0", 15);
  EXPECT_EQ(CtlDecode::kComplete, Decode(request));
  for (size_t cut = 0; cut < request.size(); ++cut) {
    EXPECT_EQ(CtlDecode::kIncomplete, Decode(request.substr(0, cut))) << cut;
  }
  const std::string_view longer("000000001\nqueue\0", 16);
  EXPECT_EQ(CtlDecode::kMalformed, Decode(longer));
  EXPECT_EQ(CtlDecode::kMalformed, Decode(longer.substr(0, 9)));
}

}  // namespace
}  // namespace torvan::hostsim
