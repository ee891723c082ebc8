#include <cstdlib>
#include <string_view>

#include "hostlink/char_table.h"
#include "hostlink/fuzz/fuzz_targets.h"
#include "platform/fuzz_check.h"

namespace torvan::hostlink::fuzz {

namespace {

using platform::fuzz::Check;

}  // namespace

int FuzzCharTable(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  CharTables tables;
  const Status s = CharTablesFromFileBytes(bytes, &tables);
  // Whatever the file holds, the tables are usable: every PC code a host byte maps to
  // goes back to a host byte of that code.
  for (int b = 0; b < 256; ++b) {
    const uint8_t pc = tables.HostToPc(uint8_t(b));
    Check(tables.HostToPc(tables.PcToHost(pc)) == pc);
  }
  if (!s.ok()) {
    Check(!s.message().empty());
    Check(s.code() == Status::Code::kIoError || s.code() == Status::Code::kInvalidArgument);
    return 0;
  }
  // A table: its 256 bytes after any header, digits map both ways, names survive the trip.
  Check(CharTableFileBytes(tables.host_to_pc()).substr(kCharTableHeaderLength) ==
        bytes.substr(kCharTableHeaderLength));
  Check(tables.ToPc(std::string_view("\xF0\xF1\xF2\xF3\xF4\xF5\xF6\xF7\xF8\xF9", 10)) ==
        "0123456789");
  const std::string names = "ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz \xA7_T_IDX___";
  const std::string back = tables.ToPc(tables.ToHost(names));
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] != '_') Check(back[i] == names[i]);
  }
  return 0;
}

}  // namespace torvan::hostlink::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::hostlink::fuzz::FuzzCharTable(data, size);
}
#endif
