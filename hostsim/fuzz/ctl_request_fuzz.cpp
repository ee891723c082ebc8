#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "hostsim/ctl_client.h"
#include "hostsim/fuzz/fuzz_targets.h"
#include "platform/fuzz_check.h"

namespace torvan::hostsim::fuzz {

namespace {

using platform::fuzz::Check;

}  // namespace

int FuzzCtlRequest(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  const CtlDecode d = DecodeCtlRequest(bytes, &args);
  Check(args.size() <= kMaxCtlArgs);
  if (d == CtlDecode::kComplete) {
    // The arguments are all the request says.
    std::vector<std::string> again;
    Check(DecodeCtlRequest(EncodeCtlRequest(args), &again) == CtlDecode::kComplete);
    Check(again == args);
  }
  // The server decodes what has come so far after every read: a request that is not
  // malformed is incomplete at every point before its end.
  for (size_t cut = 0; cut < bytes.size() && d != CtlDecode::kMalformed; cut += 1 + cut / 2) {
    std::vector<std::string> part;
    Check(DecodeCtlRequest(bytes.substr(0, cut), &part) == CtlDecode::kIncomplete);
  }
  return 0;
}

}  // namespace torvan::hostsim::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::hostsim::fuzz::FuzzCtlRequest(data, size);
}
#endif
