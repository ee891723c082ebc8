// The journal of host changes: what it keeps across a reopen, a torn tail, damage on
// disk, a full disk, and its restart.
#include "replication/journal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "platform/file.h"
#include "platform/temp_folder.h"

namespace torvan {
namespace {

class JournalTest : public ::testing::Test {
 protected:
  std::unique_ptr<Journal> Open(std::string* note = nullptr,
                                const std::vector<JournalEntry>& migrated = {}) {
    std::unique_ptr<Journal> j;
    std::string ignored;
    Status s = Journal::Open(path_, false, "ultima", migrated, &j, note ? note : &ignored);
    EXPECT_TRUE(s.ok()) << s.message();
    return j;
  }
  std::string Bytes() {
    std::string b;
    EXPECT_TRUE(platform::ReadFile(path_, &b).ok());
    return b;
  }
  std::vector<std::string> Waiting() {
    JournalContents c;
    Status s = ReadJournal(path_, &c);
    EXPECT_TRUE(s.ok()) << s.message();
    std::vector<std::string> out;
    for (const JournalEntry& e : c.waiting)
      out.push_back(std::to_string(e.sequence) + ":" + e.data);
    return out;
  }

  platform::TempFolder folder_{"torvan-journal"};
  std::string path_ = folder_.path() + "/" + journal_format::kFileName;
};

TEST_F(JournalTest, KeepsWhatIsNeitherAppliedNorSetAsideAcrossAReopen) {
  {
    std::unique_ptr<Journal> j = Open();
    EXPECT_EQ("ultima", j->last_received());
    for (const char* d : {"uno", "due", "tre", "quattro"}) {
      ASSERT_TRUE(j->Append(d, "01/03/2024 10:15:00").ok());
    }
    ASSERT_TRUE(j->MarkApplied(1).ok());
    ASSERT_TRUE(j->SetAside(2).ok());
    EXPECT_FALSE(j->SetAside(4).ok());  // only the first waiting one
    EXPECT_EQ(uint64_t(3 + 7), j->waiting_bytes());
  }
  EXPECT_EQ((std::vector<std::string>{"3:tre", "4:quattro"}), Waiting());
  std::unique_ptr<Journal> j = Open();
  EXPECT_EQ("quattro", j->last_received());
  EXPECT_EQ("01/03/2024 10:15:00", j->waiting().front().received);
  ASSERT_TRUE(j->Append("cinque", "x").ok());
  EXPECT_EQ(uint64_t(5), j->waiting().back().sequence);
}

TEST_F(JournalTest, AChangeOfAnOlderPendingFileMovesInWhenTheJournalIsMade) {
  std::unique_ptr<Journal> j = Open(nullptr, {JournalEntry{1, "trattenuta", "ieri"}});
  ASSERT_EQ(1u, j->waiting().size());
  EXPECT_EQ("trattenuta", j->waiting().front().data);
  j.reset();
  // Once made, the journal is what counts: a second open moves nothing in.
  j = Open(nullptr, {JournalEntry{1, "ancora", "oggi"}});
  EXPECT_EQ((std::vector<std::string>{"1:trattenuta"}), Waiting());
}

// A kill mid-write leaves a torn tail, cut off with a message; damage before good records
// stops the journal, naming the offset.
TEST_F(JournalTest, ATornTailIsCutAndDamageBeforeGoodRecordsIsNamed) {
  {
    std::unique_ptr<Journal> j = Open();
    ASSERT_TRUE(j->Append("uno", "t").ok());
    ASSERT_TRUE(j->Append("due", "t").ok());
  }
  const std::string whole = Bytes();
  const size_t second =
      whole.size() - (journal_format::kHeaderSize + journal_format::kBodyFixed + 2 + 3);
  struct Row {
    const char* meaning;
    std::string bytes;
    std::string note_or_error;  // expected in the note (opens) or in the error (fails)
    bool opens;
  };
  const size_t first = second - (journal_format::kHeaderSize + journal_format::kBodyFixed + 2 + 3);
  std::string flipped = whole;
  flipped[second - 2] ^= 0x40;  // inside the record of "uno"
  std::string lengthened = whole;
  lengthened[first + 1] = char(0xEA);  // the length of "uno" now reaches past the end
  const Row rows[] = {
      {"half of the last record", whole.substr(0, whole.size() - 4),
       "registrazione incompleta in coda all'offset " + std::to_string(second), true},
      {"its header only", whole.substr(0, second + 5), "all'offset " + std::to_string(second),
       true},
      {"an extension never filled", whole.substr(0, second) + std::string(40, '\0'),
       "all'offset " + std::to_string(second), true},
      {"a damaged record before a good one", flipped,
       "danneggiato: registrazione all'offset " + std::to_string(first), false},
      {"a length damaged past the end, before a good record", lengthened,
       "danneggiato: registrazione all'offset " + std::to_string(first), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.meaning);
    ASSERT_TRUE(platform::WriteFileAtomic(path_, row.bytes, 0600).ok());
    std::unique_ptr<Journal> j;
    std::string note;
    Status s = Journal::Open(path_, false, "", {}, &j, &note);
    EXPECT_EQ(row.opens, s.ok()) << s.message();
    EXPECT_NE(std::string::npos, (row.opens ? note : s.message()).find(row.note_or_error))
        << note << s.message();
    if (!row.opens) continue;
    EXPECT_EQ(1u, j->waiting().size());
    ASSERT_TRUE(j->Append("due", "t").ok());  // the host delivers it again
    j.reset();
    EXPECT_EQ((std::vector<std::string>{"1:uno", "2:due"}), Waiting());
  }
}

// A write the disk cannot take cuts the file back to its last whole record.
TEST_F(JournalTest, AFullDiskCutsBackToTheLastWholeRecord) {
  std::unique_ptr<Journal> j = Open();
  ASSERT_TRUE(j->Append("uno", "t").ok());
  const size_t before = Bytes().size();
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(0, ::sigaction(SIGXFSZ, &ignore, &old));
  rlimit limit{}, was{};
  ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &was));
  limit = was;
  limit.rlim_cur = before + 100;
  ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &limit));
  Status s = j->Append(std::string(4000, 'x'), "t");
  ::setrlimit(RLIMIT_FSIZE, &was);
  ::sigaction(SIGXFSZ, &old, nullptr);
  ASSERT_FALSE(s.ok());
  EXPECT_NE(std::string::npos, s.message().find("torna all'ultima registrazione intera (offset " +
                                                std::to_string(before) + ")"))
      << s.message();
  EXPECT_EQ(before, Bytes().size());
  EXPECT_EQ(1u, j->waiting().size());
  ASSERT_TRUE(j->Append("due", "t").ok());
  j.reset();
  EXPECT_EQ((std::vector<std::string>{"1:uno", "2:due"}), Waiting());
}

// Past its size, a journal whose changes are all applied starts again from a base record
// that keeps the sequence and the last change received.
TEST_F(JournalTest, RestartsSmallOnceAllIsAppliedPastItsSize) {
  std::unique_ptr<Journal> j = Open();
  const std::string big(4000, 'b');
  uint64_t seq = 0;
  while (Bytes().size() <= journal_format::kRestartBytes) {
    ASSERT_TRUE(j->Append(big + std::to_string(++seq), "t").ok());
  }
  ASSERT_TRUE(j->MarkApplied(seq - 1).ok());
  EXPECT_GT(Bytes().size(), journal_format::kRestartBytes);  // one still waits
  ASSERT_TRUE(j->MarkApplied(seq).ok());
  EXPECT_LT(Bytes().size(), 5000u);
  ASSERT_TRUE(j->Append("dopo", "t").ok());
  const uint64_t id = j->id();
  j.reset();
  j = Open();
  EXPECT_EQ(id, j->id());
  EXPECT_EQ((std::vector<std::string>{std::to_string(seq + 1) + ":dopo"}), Waiting());
  EXPECT_FALSE(platform::FileExists(path_ + ".nuovo"));
}

}  // namespace
}  // namespace torvan
