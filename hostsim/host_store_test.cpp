#include "hostsim/host_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "hostsim/ctl_command.h"
#include "hostsim/test_support.h"

namespace torvan::hostsim {
namespace {

namespace fs = std::filesystem;
using testing::Has;
using testing::Tables;

void Write(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// A small host with one file of every field type.
void WriteSmallHost(const std::string& dir) {
  Write(dir + "/host.conf", "user = u\npassword = p\n");
  Write(dir + "/databases.txt", "DB1 | test | SRV | 127.0.0.1 | sa | pw |\n");
  Write(dir + "/files.txt", "LIB | ANAG | test file | | | S | S | N | DB1 | |\n");
  Write(dir + "/fields/LIB.ANAG.txt",
        "COD | code | A | 4 | | | |\n"
        "NUM | zoned | S | 5 | 2 | | |\n"
        "AMT | amount | P | 17 | 3 | | |\n"
        "BIN | binary | B | 9 | | | |\n"
        "\xC2\xA7_T_IDX___ | index | B | 9 | | | |\n");
}

class StoreFixture : public ::testing::Test {
 protected:
  void SetUp() override { WriteSmallHost(dir_.path()); }

  std::unique_ptr<HostStore> Open(std::string* notes = nullptr) {
    return testing::OpenStore(dir_.path(), codec_, &clock_, notes);
  }

  static HostFile* Anag(HostStore& store) { return store.data().FindFile("LIB/ANAG"); }
  static std::string Journal(HostStore& store) {
    return testing::ReadText(store.folder().Journal());
  }
  std::string Record(HostStore& store, std::vector<std::string> values) {
    std::string record = codec_.EmptyRecord(*Anag(store));
    EXPECT_TRUE(AssignFields(codec_, *Anag(store), values, &record).ok());
    return record;
  }

  void Reset() {
    fs::remove_all(dir_.path());
    WriteSmallHost(dir_.path());
  }
  // Inserts a record of `values` into LIB/ANAG, queued when `host` made it.
  void Insert(HostStore& store, std::vector<std::string> values, bool host = true) {
    int32_t rrn = 0;
    ASSERT_TRUE(store.Insert(Anag(store), Record(store, std::move(values)), host, &rrn).ok());
  }

  platform::TempFolder dir_{"torvan-host-test"};
  platform::FakeClock clock_{{2026, 1, 2, 3, 4, 5, 0}};
  RecordCodec codec_{Tables()};
};

TEST_F(StoreFixture, ChangesAndQueueSurviveARestartWithoutCleanClose) {
  std::map<int32_t, std::string> expected;
  {
    auto store = Open();
    HostFile* f = Anag(*store);
    for (const char* cod : {"COD=R1", "COD=R2", "COD=R3"}) Insert(*store, {cod});
    ASSERT_TRUE(store->Update(f, 2, Record(*store, {"COD=upd", "AMT=-1.5"}), true).ok());
    ASSERT_TRUE(store->Delete(f, 1, true).ok());
    Insert(*store, {"COD=pc"}, /*host=*/false);  // a change the PC made: stored, not queued
    EXPECT_EQ(1u, f->records.count(4));
    EXPECT_EQ(5u, store->QueueSize());
    store->Acknowledge(1);
    store->Acknowledge(3);  // not the front: nothing happens
    EXPECT_EQ(Status::Code::kNotFound, store->Update(f, 7, Record(*store, {}), true).code());
    EXPECT_EQ(Status::Code::kNotFound, store->Delete(f, 7, true).code());
    EXPECT_EQ(4u, store->QueueSize());
    ASSERT_TRUE(store->Flush(false).ok());
    expected = f->records;
    // The store goes away without Compact, as if the process were killed.
  }
  auto store = Open();
  HostFile* f = Anag(*store);
  EXPECT_EQ(expected, f->records);
  EXPECT_EQ(5, f->next_rrn);
  ASSERT_EQ(4u, store->QueueSize());
  EXPECT_EQ(2, store->FrontChange()->seq);
  EXPECT_EQ("20260102030405", store->FrontChange()->text14);
  EXPECT_EQ("", Journal(*store));  // folded into the text files at open
  EXPECT_TRUE(Has(testing::ReadText(store->folder().Records(*f)), "COD=upd"));
}

// A control command answers once its change is safely in the journal.
TEST_F(StoreFixture, AControlCommandsChangeIsInTheJournalWhenItAnswers) {
  auto store = Open();
  Faults faults;
  CtlContext context{store.get(), &faults, {}, {}};
  EXPECT_EQ(0, RunCtl(context, {"insert", "LIB/ANAG", "COD=ctl"}).exit_code);
  EXPECT_NE("", Journal(*store));
}

TEST_F(StoreFixture, TornAndDamagedJournalTailsAreLeftOut) {
  EXPECT_EQ(Crc32("123456789"), 0xCBF43926u);  // the standard check value
  std::string journal;
  {
    auto store = Open();
    for (const char* cod : {"COD=R1", "COD=R2", "COD=R3"}) Insert(*store, {cod}, false);
    ASSERT_TRUE(store->Flush(false).ok());
    journal = Journal(*store);
  }
  std::string flipped = journal;
  flipped[flipped.find('\n') + 1 + 20] ^= 0x01;  // in the second line
  const std::pair<std::string, size_t> cases[] = {
      {journal.substr(0, journal.size() - 5), 2},  // the last line torn
      {journal + std::string(512, '\0'), 3},
      {flipped, 1},
  };
  for (const auto& [damaged, records] : cases) {
    SCOPED_TRACE(records);
    Reset();
    Write(dir_.path() + "/journal.txt", damaged);
    std::string notes;
    auto store = Open(&notes);
    EXPECT_EQ(records, Anag(*store)->records.size());
    EXPECT_TRUE(Has(notes, "torn or damaged")) << notes;
  }
}

TEST_F(StoreFixture, CrashWhileRewritingTheTextFilesLosesAndDuplicatesNothing) {
  std::string old_journal;
  std::map<int32_t, std::string> expected;
  {
    auto store = Open();
    Insert(*store, {"COD=A"});
    Insert(*store, {"COD=B"});
    ASSERT_TRUE(store->Clear(Anag(*store), true).ok());
    Insert(*store, {"COD=C"});
    store->Acknowledge(1);
    ASSERT_TRUE(store->Flush(false).ok());
    old_journal = Journal(*store);
    expected = Anag(*store)->records;
    // The text files are written, then the process dies before the journal restarts.
    ASSERT_TRUE(store->Compact().ok());
  }
  Write(dir_.path() + "/journal.txt", old_journal);
  auto store = Open();
  HostFile* f = Anag(*store);
  EXPECT_EQ(expected, f->records);
  EXPECT_EQ(2, f->next_rrn);          // the clear started the numbering again
  ASSERT_EQ(3u, store->QueueSize());  // 2, 3 and 4, none twice
  EXPECT_EQ(2, store->FrontChange()->seq);
}

// Hand-written records are encoded; records are written back as values, or as hex when
// no value text gives them back, and read back exactly.
TEST_F(StoreFixture, RecordsAreReadAndWrittenAsValuesOrHex) {
  Write(dir_.path() + "/records/LIB.ANAG.txt",
        "# comment\nnext_rrn\t40\n7\tCOD=x\tAMT=5\n12\tNUM=1.25\n");
  auto store = Open();
  HostFile* f = Anag(*store);
  ASSERT_EQ(2u, f->records.size());
  EXPECT_EQ(40, f->next_rrn);
  std::string v;
  ASSERT_TRUE(codec_.GetField(*f->FindField("AMT"), f->records.at(7), &v).ok());
  EXPECT_EQ("00000000000005.000 ", v);
  ASSERT_TRUE(codec_.GetField(*f->FindField("COD"), f->records.at(12), &v).ok());
  EXPECT_EQ("    ", v);
  int32_t rrn = 0;
  Insert(*store, {"COD=O'B\xE8", "NUM=-12.5", "AMT=123.456", "BIN=-7"}, false);
  std::string odd = Record(*store, {"COD=ab"});
  odd[1] = '\0';  // a NUL inside a text field
  ASSERT_TRUE(store->Insert(f, odd, false, &rrn).ok());
  ASSERT_TRUE(store->Compact().ok());
  const std::string text = testing::ReadText(store->folder().Records(*f));
  EXPECT_TRUE(
      Has(text, "\n40\tCOD=O'B\xC3\xA8\tNUM=-12.50\tAMT=123.456\tBIN=-7\t\xC2\xA7_T_IDX___=0\n"))
      << text;
  EXPECT_TRUE(Has(text, "\n41\thex:"));
  const auto records = f->records;
  store.reset();
  store = Open();
  EXPECT_EQ(records, Anag(*store)->records);
}

TEST_F(StoreFixture, BadDataFoldersAreRefusedWithTheLine) {
  const char* const fields = "fields/LIB.ANAG.txt";
  const char* const records = "records/LIB.ANAG.txt";
  const struct {
    const char* file;
    const char* text;
    const char* message;  // a part of the expected message
  } cases[] = {
      {"host.conf", "colour = blue\n", "host.conf:1: unknown setting"},
      {"host.conf", "user = u\nftp_port = x\n", "host.conf:2: ftp_port"},
      {"databases.txt", "ABCDEFGHIJKLMNOPQRSTU | x\n", "databases.txt:1: name"},
      {"databases.txt", "A|B|C|D|E|F|G|H\n", "more than 7 columns"},
      {"files.txt", "LIBRARY_TOO_LONG | F | t\n", "files.txt:1:"},
      {"files.txt", "LIB | ANAG | t\nlib | anag | t\n", "files.txt:2: LIB/ANAG is listed twice"},
      {"files.txt", "LIB | ANAG | t | | | SI\n", "As_Pc"},
      {"files.txt", "LIB | ANAG | caff\xE8\n", "not UTF-8"},
      {fields, "COD | c | X | 4\n", "type must be A, S, P or B"},
      {fields, "COD | c | B | 20\n", "digits out of range"},
      {fields, "COD | c | P | 9 | 2 | 1 | 4\n", "takes 5 bytes"},
      {fields, "COD | c | S | 3 | 4\n", "decimals"},
      {fields, "A | a | A | 4 | | 1\nB | b | A | 2 | | 3\n", "LIB.ANAG.txt:2: the field overlaps"},
      {fields, "A | a | A | 4060 | | 10\n", "longer than 4067"},
      {fields, "A | a | A | 4\na | b | A | 4\n", "listed twice"},
      {fields, "# nothing\n", "has no fields"},
      {records, "1\tCOLOR=red\n", "records/LIB.ANAG.txt:1: unknown field COLOR"},
      {records, "1\tCOD=a\n1\tCOD=b\n", ":2: RRN 1 appears twice"},
      {records, "0\tCOD=a\n", "starts with its RRN"},
      {records, "1\thex:C1C2\n", "hex: needs"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Reset();
    Write(dir_.path() + "/" + c.file, c.text);
    std::unique_ptr<HostStore> store;
    std::string notes;
    Status s = HostStore::Open(DataFolder{dir_.path()}, codec_, &clock_, &store, &notes);
    EXPECT_TRUE(Has(s.message(), c.message)) << s.message();
  }
}

}  // namespace
}  // namespace torvan::hostsim
