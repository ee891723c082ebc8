#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/fuzz_check.h"
#include "platform/temp_folder.h"
#include "replication/fuzz/fuzz_targets.h"
#include "replication/journal.h"

namespace torvan::fuzz {

using platform::fuzz::Check;

// Whatever the journal file holds: damage fails both the reading and the opening and
// leaves the file as it was; anything else reads back as contents that hold together, the
// opening keeps the whole records and drops only a torn tail, and the journal opened takes
// the next change after the last one it knew.
int FuzzJournal(const uint8_t* data, size_t size) {
  static platform::TempFolder folder("torvan-fuzz-journal");
  const std::string path = folder / journal_format::kFileName;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Check(platform::WriteFileAtomic(path, bytes, 0600, /*durable=*/false).ok());

  JournalContents read;
  const Status s = ReadJournal(path, &read);
  std::unique_ptr<Journal> journal;
  std::string note;
  const Status opened = Journal::Open(path, false, "", {}, &journal, &note);
  std::string after;
  if (!s.ok()) {
    Check(s.code() == Status::Code::kFault && !opened.ok());
    Check(platform::ReadFile(path, &after).ok() && after == bytes);
    return 0;
  }
  Check(read.valid_bytes <= size && read.torn_tail == (read.valid_bytes < size));
  uint64_t before = 0;
  for (const JournalEntry& e : read.waiting) {
    Check(e.sequence > before && e.sequence <= read.last_sequence);
    before = e.sequence;
  }
  if (read.id == 0) {  // no base record: not a journal Torvan made
    Check(!opened.ok());
    return 0;
  }
  Check(opened.ok() && note.empty() == !read.torn_tail);
  Check(journal->waiting().size() == read.waiting.size());
  Check(journal->Append("nuova", "r").ok());
  journal.reset();

  JournalContents again;
  Check(ReadJournal(path, &again).ok() && !again.torn_tail);
  Check(platform::ReadFile(path, &after).ok());
  Check(after.compare(0, read.valid_bytes, bytes, 0, read.valid_bytes) == 0);
  Check(again.waiting.size() == read.waiting.size() + 1);
  Check(again.waiting.back().data == "nuova" &&
        again.waiting.back().sequence == read.last_sequence + 1);
  return 0;
}

}  // namespace torvan::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::fuzz::FuzzJournal(data, size);
}
#endif
