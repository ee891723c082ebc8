// The pending file: its state's encoding, its two slots, its lock.
#include "replication/pending_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/crc32.h"
#include "platform/file.h"
#include "platform/temp_folder.h"

namespace torvan {
namespace {

PendingState Held(const std::string& data) {
  PendingState s;
  s.held = HeldChange{data, "01/03/2024 10:15:00", "la tabella non esiste", 3};
  return s;
}

TEST(PendingState, EncodingRoundTrips) {
  PendingState both = Held(std::string("\0\xFF\x40 bytes", 9));
  both.last_applied = std::string("\x00\x01", 2);
  PendingState flights;
  flights.in_flight = {{1, 7, "CONTATTI", 12, 0xDEADBEEF},
                       {2, int64_t(1) << 40, "", int64_t(1) << 35, 0}};
  PendingState last_only;
  last_only.last_applied = "";
  PendingState sent = flights;
  sent.sent = {{1, "CONTATTI", 15, int64_t(1) << 40, 'U', SentEvent::kUpdatedAtRrn,
                int64_t(1) << 42, true, true, true, " NOTA=l'ora \xE8"},
               {2, "", 0, 3, 'I', SentEvent::kUnknown, 0, false, false, false, ""}};
  const std::pair<const char*, PendingState> rows[] = {
      {"empty", PendingState{}},
      {"a held change", Held("abc")},
      {"the last applied change, empty", last_only},
      {"both, binary bytes", both},
      {"events in flight, wide numbers", flights},
      {"events sent, with their values", sent},
  };
  for (const auto& [meaning, state] : rows) {
    PendingState back = Held("untouched");
    ASSERT_TRUE(DecodePendingState(EncodePendingState(state), &back)) << meaning;
    EXPECT_EQ(state, back) << meaning;
  }
}

TEST(PendingState, PayloadsThatAreNoStateAreRefused) {
  PendingState full = Held("abc");
  full.last_applied = "def";
  full.in_flight = {{1, 7, "CONTATTI", 12, 1}};
  const std::string good = EncodePendingState(full);
  std::string bad_flags = good;
  bad_flags[0] = 4;
  std::string huge_count = EncodePendingState(PendingState{});
  huge_count.replace(1, 4, "\xFF\xFF\xFF\x7F");
  const std::pair<const char*, std::string> rows[] = {
      {"nothing", ""},
      {"cut short by one byte", good.substr(0, good.size() - 1)},
      {"a byte too many", good + "x"},
      {"unknown flags", bad_flags},
      {"a count of events beyond the payload", huge_count},
  };
  for (const auto& [meaning, payload] : rows) {
    PendingState back = Held("untouched");
    EXPECT_FALSE(DecodePendingState(payload, &back)) << meaning;
    EXPECT_EQ(Held("untouched"), back) << meaning;
  }
}

class PendingFileTest : public ::testing::Test {
 protected:
  PendingState Reopen() {
    file_.reset();
    PendingState s = Held("untouched");
    Status st = PendingFile::Open(path_, false, &file_, &s);
    EXPECT_TRUE(st.ok()) << st.message();
    return s;
  }
  void Write(const PendingState& s) {
    Status st = file_->Write(s);
    ASSERT_TRUE(st.ok()) << st.message();
  }
  // Overwrites `n` bytes at `offset` of the file with `byte`.
  void Damage(off_t offset, size_t n, char byte) {
    const int fd = ::open(path_.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const std::string bytes(n, byte);
    ASSERT_EQ(ssize_t(n), ::pwrite(fd, bytes.data(), n, offset));
    ::close(fd);
  }

  platform::TempFolder folder_{"torvan-pending"};
  const std::string path_ = folder_ / "TnC_PENDENTI.DAT";
  std::unique_ptr<PendingFile> file_;
};

// Each write goes to the slot that does not hold the newest state: a write cut short, or a
// slot damaged, leaves the state before it.
TEST_F(PendingFileTest, ANewestSlotCutShortOrDamagedLeavesThePreviousState) {
  const off_t slot = off_t(kPendingSlotSize);
  EXPECT_EQ(PendingState{}, Reopen());  // a fresh file
  EXPECT_TRUE(platform::FileExists(path_));
  Write(Held("first"));                                // slot 0
  Write(Held("second"));                               // slot 1
  ASSERT_EQ(0, ::truncate(path_.c_str(), slot + 30));  // the write of slot 1 cut short
  EXPECT_EQ(Held("first"), Reopen());
  Write(Held("third"));  // slot 1 again: slot 0 holds the newest state
  EXPECT_EQ(Held("third"), Reopen());
  Write(Held("fourth"));  // slot 0
  EXPECT_EQ(Held("fourth"), Reopen());
  Damage(30, 1, '\x55');  // a payload byte of slot 0
  EXPECT_EQ(Held("third"), Reopen());
  Damage(slot, 4, '\0');  // the mark of slot 1: no slot is whole
  EXPECT_EQ(PendingState{}, Reopen());
  Write(Held("fifth"));
  EXPECT_EQ(Held("fifth"), Reopen());
}

// A last slot whose length runs past the end of the file is torn, even with a CRC that
// matches the bytes there.
TEST_F(PendingFileTest, ASlotLongerThanTheFileIsTorn) {
  Reopen();
  Write(Held("first"));   // slot 0
  Write(Held("second"));  // slot 1
  std::string bytes;
  ASSERT_TRUE(platform::ReadFile(path_, &bytes).ok());
  const size_t at = kPendingSlotSize + 4 + 8;  // slot 1's length, then its CRC
  uint32_t length = 0;
  for (int i = 3; i >= 0; --i) length = length << 8 | uint8_t(bytes[at + size_t(i)]);
  bytes.resize(at + 8 + length);
  auto put = [&](size_t where, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) bytes[where + i] = char(v >> (8 * i));
  };
  put(at, length + 1);
  put(at + 4,
      platform::Crc32Extend(platform::Crc32(bytes.substr(at - 8, 12)), bytes.substr(at + 8)));
  ASSERT_TRUE(platform::WriteFileAtomic(path_, bytes, 0600).ok());
  EXPECT_EQ(Held("first"), Reopen());
}

// A missing file, or one that is no pending file, is an empty state; while a Torvan holds
// the file a second open is refused but reading is allowed; a state too big for a slot is
// refused, the old one kept.
TEST_F(PendingFileTest, LockedWhileOpenEmptyWhenNoneAndTooBigStatesRefused) {
  PendingState s = Held("untouched");
  ASSERT_TRUE(ReadPendingState(path_, &s).ok());
  EXPECT_EQ(PendingState{}, s);
  EXPECT_FALSE(PendingFileInUse(path_));
  ASSERT_TRUE(platform::WriteFileAtomic(path_, "[Generale]\r\nParametri=%%\r\n", 0600).ok());
  EXPECT_EQ(PendingState{}, Reopen());
  Write(Held("a"));
  EXPECT_TRUE(PendingFileInUse(path_));
  std::unique_ptr<PendingFile> second;
  Status st = PendingFile::Open(path_, false, &second, &s);
  EXPECT_EQ(Status::Code::kIoError, st.code());
  EXPECT_EQ(path_ + " \xE8 in uso da un altro Torvan che lavora in questa cartella", st.message());
  EXPECT_EQ(nullptr, second);
  ASSERT_TRUE(ReadPendingState(path_, &s).ok());
  EXPECT_EQ(Held("a"), s);
  st = file_->Write(Held(std::string(kPendingSlotSize, 'x')));
  EXPECT_EQ(Status::Code::kInvalidArgument, st.code());
  file_.reset();
  EXPECT_FALSE(PendingFileInUse(path_));
  EXPECT_EQ(Held("a"), Reopen());
}

}  // namespace
}  // namespace torvan
