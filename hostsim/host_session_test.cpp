#include "hostsim/host_session.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "hostsim/statement_runner.h"
#include "hostsim/test_support.h"
#include "platform/fakes.h"
#include "platform/file.h"

namespace torvan::hostsim {
namespace {

using testing::Header;
using testing::Host;
using testing::Request;
using testing::Tables;

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(char(b));
  return s;
}

class HostSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string notes;
    Status s = HostStore::Open(DataFolder{sample_.path()}, codec_, &clock_, &store_, &notes);
    ASSERT_TRUE(s.ok()) << s.message();
    context_ = {store_.get(), &Tables(), &clock_, &faults_, false};
  }

  // Sends one request through a session and returns the one reply it produced.
  std::string Exchange(HostSession& session, char code, const std::string& data) {
    std::vector<std::string> replies;
    EXPECT_TRUE(session.Receive(Request(code, data), &replies));
    EXPECT_EQ(1u, replies.size());
    return replies.empty() ? "" : replies[0];
  }

  // The replies of a whole list: "S" and then "N" until the refusal that ends it.
  std::vector<std::string> List(HostSession& session, char code, const std::string& request = "") {
    std::vector<std::string> replies;
    for (std::string flag = "S"; replies.size() < 100; flag = "N") {
      std::string reply = Exchange(session, code, flag + request);
      if (reply == Header('1', 0)) break;
      replies.push_back(reply);
    }
    return replies;
  }

  HostFile* File(const std::string& name) { return store_->data().FindFile(name); }

  testing::SampleHost sample_;
  platform::FakeClock clock_{{2026, 12, 5, 14, 5, 9, 42}};
  RecordCodec codec_{Tables()};
  std::unique_ptr<HostStore> store_;
  Faults faults_;
  HostContext context_;
};

TEST_F(HostSessionTest, GreetingAndTimeRepliesWithStopRestartAndClock) {
  EXPECT_EQ(Bytes({0xF0, 0xF0, 0xF0, 0xF0, 0xF0, 0xF0}), HostSession::Greeting(Tables()));
  HostSession session(&context_);
  // No schedule set: stop tomorrow at the same time, restart an hour later.
  EXPECT_EQ(Header('0', 45) + Host("20261206140509"
                                   "20261206150509"
                                   "20261205140509042"),
            Exchange(session, 'P', "20261205140509000000"));
  Schedule schedule{"20261205220000", "20261206063000", false};
  ASSERT_TRUE(store_->SetSchedule(schedule).ok());
  EXPECT_EQ(Header('0', 45) + Host("20261205220000"
                                   "20261206063000"
                                   "20261205140509042"),
            Exchange(session, 'P', "20261205140509000000"));
  // The restart wait: the stopping flag at position 1, no restart given: an hour later.
  ASSERT_TRUE(store_->SetSchedule({"20261205220000", "", false}).ok());
  EXPECT_EQ(
      Header('0', 45) + Host("N" + std::string(13, ' ') + "20261205230000" + "20261205140509042"),
      Exchange(session, 'T', "20261205140509000000"));
}

TEST_F(HostSessionTest, DatabaseListServesOneEntryPerRequestThenEnds) {
  HostSession session(&context_);
  const std::vector<std::string> list = List(session, '3');
  ASSERT_EQ(2u, list.size());
  EXPECT_EQ(Header('0', 197), list[0].substr(0, 6));
  ASSERT_EQ(6u + 197u, list[0].size());
  const std::string data = Tables().ToPc(list[0].substr(6));
  EXPECT_EQ(" ", data.substr(0, 1));
  EXPECT_EQ("GESTIONALE          ", data.substr(1, 20));    // 2, name
  EXPECT_EQ("SQLSRV01            ", data.substr(71, 20));   // 72, server
  EXPECT_EQ("127.0.0.1       ", data.substr(91, 16));       // 92, address
  EXPECT_EQ("torvan              ", data.substr(107, 20));  // 108, user
  EXPECT_EQ("Segreta1            ", data.substr(127, 20));  // 128, password
  EXPECT_EQ(std::string(50, ' '), data.substr(147, 50));    // 148, folder
  const std::string second = Tables().ToPc(list[1].substr(6));
  EXPECT_EQ("ARCHIVIO            ", second.substr(1, 20));
  EXPECT_EQ("immagini/", second.substr(147, 9));
  EXPECT_EQ(list, List(session, '3'));  // "S" starts the list again
}

TEST_F(HostSessionTest, FileListEntriesCarryFlagsAndDatabase) {
  HostSession session(&context_);
  const std::vector<std::string> list = List(session, '1');
  ASSERT_EQ(5u, list.size());
  std::vector<std::string> entries;
  for (const std::string& reply : list) {
    ASSERT_EQ(Header('0', 134), reply.substr(0, 6));
    entries.push_back(Tables().ToPc(reply.substr(6)));
  }
  const std::string& contatti = entries[3];
  EXPECT_EQ(" DATI      CONTATTI  ", contatti.substr(0, 21));
  EXPECT_EQ("Contatti commerciali (anche da SQL)", Trim(contatti.substr(21, 50)));
  EXPECT_EQ("DATI      TRGCON    ", contatti.substr(71, 20));
  EXPECT_EQ("SSN", contatti.substr(91, 3));  // As_Pc, Pc_As, Acq
  EXPECT_EQ("GESTIONALE          ", contatti.substr(94, 20));
  EXPECT_EQ("DATI      FLTART    ", entries[1].substr(114, 20));
  EXPECT_EQ("TNP_ARC_0F", entries[4].substr(11, 10));
  EXPECT_EQ(list, List(session, '1'));  // "S" starts the list again
}

TEST_F(HostSessionTest, FieldListPacksTheNumbers) {
  HostSession session(&context_);
  const std::vector<std::string> entries = List(session, '2', "DATI      CONTATTI  ");
  ASSERT_EQ(11u, entries.size());
  const std::string valore = entries[6].substr(6);  // VALORE: P 17,3 at 121, 9 bytes
  EXPECT_EQ(Header('0', 95), entries[6].substr(0, 6));
  EXPECT_EQ(Host(" DATI      CONTATTI  VALORE    "), valore.substr(0, 31));
  EXPECT_EQ(Host("P"), valore.substr(81, 1));
  EXPECT_EQ(Bytes({0x00, 0x01, 0x7F}), valore.substr(82, 3));  // digits 17
  EXPECT_EQ(Bytes({0x00, 0x00, 0x3F}), valore.substr(85, 3));  // decimals 3
  EXPECT_EQ(Bytes({0x00, 0x12, 0x1F}), valore.substr(88, 3));  // position 121
  EXPECT_EQ(Bytes({0x00, 0x00, 0x9F}), valore.substr(91, 3));  // bytes 9
  EXPECT_EQ(Host(" "), valore.substr(94, 1));
  // The index field comes out of the table as "§_T_IDX___": host 0x7C first.
  EXPECT_EQ('\x7C', entries[7][6 + 21]);
  EXPECT_EQ("\xA7_T_IDX___", Tables().ToPc(entries[7].substr(6 + 21, 10)));

  // Excluded fields are listed, marked "S".
  std::string costo;
  for (const std::string& reply : List(session, '2', "DATI      ARTICOLI  ")) {
    if (Tables().ToPc(reply.substr(6 + 21, 10)) == "COSTO     ") costo = reply.substr(6);
  }
  ASSERT_FALSE(costo.empty());
  EXPECT_EQ(Host("S"), costo.substr(94, 1));

  EXPECT_EQ(Header('1', 0), Exchange(session, '2', "SDATI      NESSUNO   "));
  EXPECT_EQ(Header('1', 0), Exchange(session, '2', "S"));
}

TEST_F(HostSessionTest, ChangeRecordLayout) {
  HostFile* clienti = File("DATI/CLIENTI");
  std::string before = clienti->records.at(2);
  std::string after = before;
  ASSERT_TRUE(codec_.PutField(*clienti->FindField("FIDO"), "-7.25", &after).ok());
  ASSERT_TRUE(store_->Update(clienti, 2, after, true).ok());

  HostSession session(&context_);
  std::string reply = Exchange(session, 'S', "");
  const int32_t length = 58 + 2 * clienti->record_length;
  ASSERT_EQ(size_t(6 + length), reply.size());
  EXPECT_EQ(Header('0', length), reply.substr(0, 6));
  const std::string d = reply.substr(6);
  EXPECT_EQ(Bytes({0, 0, 0, 0}), d.substr(0, 4));                       // before offset
  EXPECT_EQ(Bytes({0, 0, 0, clienti->record_length}), d.substr(4, 4));  // after offset
  EXPECT_EQ(Host("00000001"), d.substr(8, 8));                          // sequence number
  EXPECT_EQ(Bytes({0, 0, 0, 2}), d.substr(16, 4));                      // RRN
  EXPECT_EQ(Host("CLIENTI   DATI      20261205140509"
                 "3   "),
            d.substr(20, 38));
  EXPECT_EQ(before, d.substr(58, size_t(clienti->record_length)));
  EXPECT_EQ(after, d.substr(58 + size_t(clienti->record_length)));
}

// A delete carries the deleted record in both images; a clear, none.
TEST_F(HostSessionTest, NextRequestAcknowledgesAndReconnectRedelivers) {
  HostFile* ordini = File("DATI/ORDINI");
  const std::string record = ordini->records.at(3);
  ASSERT_TRUE(store_->Delete(ordini, 3, true).ok());
  ASSERT_TRUE(store_->Clear(ordini, true).ok());

  HostSession first(&context_);
  std::string delete_change = Exchange(first, 'S', "");
  EXPECT_EQ(Host("2"), delete_change.substr(6 + 54, 1));
  EXPECT_EQ(record + record, delete_change.substr(6 + 58));
  EXPECT_EQ(2u, store_->QueueSize());  // delivered, not yet acknowledged

  // The connection drops: the same change comes again on the next one.
  HostSession second(&context_);
  EXPECT_EQ(delete_change, Exchange(second, 'S', ""));
  std::string clear_change = Exchange(second, 'S', "");
  EXPECT_EQ(1u, store_->QueueSize());
  EXPECT_EQ(Header('0', 58), clear_change.substr(0, 6));
  EXPECT_EQ(Host("4"), clear_change.substr(6 + 54, 1));
  EXPECT_EQ(Header('1', 0), Exchange(second, 'S', ""));
  EXPECT_EQ(0u, store_->QueueSize());
  EXPECT_EQ(Header('1', 0), Exchange(second, 'S', ""));
}

TEST_F(HostSessionTest, ImageChunksAreRawAndAtMost8192Bytes) {
  std::string file;
  ASSERT_TRUE(platform::ReadFile(sample_.path() + "/images/PIANTA0003.00001", &file).ok());
  ASSERT_EQ(12342u, file.size());
  HostSession session(&context_);
  const std::string none = Header('1', 0);
  auto Image = [](std::string key, const char* part, const char* chunk) {
    return key + "1" + part + chunk;
  };
  const struct {
    std::string request;  // key (10), kind, part, chunk
    std::string reply;    // whole, or only its header when `header_only`
    bool header_only;
  } rows[] = {
      {Image("PIANTA0003", "00001", "00001"), Header('0', 8192) + file.substr(0, 8192), false},
      {Image("PIANTA0003", "00001", "00002"), Header('0', 4150) + file.substr(8192), false},
      {Image("PIANTA0003", "00001", "00003"), none, false},
      {Image("PIANTA0003", "00002", "00001"), none, false},
      // Two parts of one image; a key with no image; malformed requests.
      {Image("SCHEDA0004", "00002", "00001"), Header('0', 186), true},
      {Image("DOC0000005", "00001", "00001"), none, false},
      {Image("../secrets", "00001", "00001"), none, false},
      {Image("FOTO000001", "0000x", "00001"), none, false},
      {"FOTO000001", none, false},
  };
  for (const auto& row : rows) {
    const std::string reply = Exchange(session, 'I', row.request);
    EXPECT_EQ(row.reply, row.header_only ? reply.substr(0, 6) : reply) << row.request;
  }
}

TEST_F(HostSessionTest, StatementReplyCarriesTheStatus) {
  HostSession session(&context_);
  const std::string insert =
      "INSERT INTO DATI/CONTATTI (CODCLI,NOTA,VALORE,\xA7_T_IDX___) VALUES('C00009', "
      "'L''ultima visita', -12.5, 57)";
  EXPECT_EQ(Header('0', 1) + Host(" "), Exchange(session, 'R', insert));
  EXPECT_EQ(0u, store_->QueueSize());  // the PC's own changes are not sent back
  EXPECT_EQ(Header('0', 1) + Host("F"),
            Exchange(session, 'R', " DELETE FROM DATI/NESSUNO a WHERE RRN(a)=1"));
  ASSERT_TRUE(faults_.Command({"refuse-statements", "1"}).ok());
  EXPECT_EQ(Header('1', 0), Exchange(session, 'R', " DELETE FROM DATI/CONTATTI a WHERE RRN(a)=1"));
  ASSERT_TRUE(faults_.Command({"refuse-statements", "1", "#"}).ok());
  EXPECT_EQ(Header('0', 1) + Host("#"),
            Exchange(session, 'R', " DELETE FROM DATI/CONTATTI a WHERE RRN(a)=1"));
  EXPECT_EQ(1u, File("DATI/CONTATTI")->records.count(1));
}

TEST_F(HostSessionTest, FramesSplitAcrossReadsAndSeveralInOneRead) {
  HostSession session(&context_);
  const std::string both = Request('3', "S") + Request('3', "N");
  std::vector<std::string> replies;
  EXPECT_TRUE(session.Receive(both.substr(0, 4), &replies));
  EXPECT_TRUE(replies.empty());
  EXPECT_TRUE(session.Receive(both.substr(4), &replies));
  ASSERT_EQ(2u, replies.size());
  EXPECT_EQ(Host("GESTIONALE"), replies[0].substr(7, 10));
  EXPECT_EQ(Host("ARCHIVIO"), replies[1].substr(7, 8));
}

TEST_F(HostSessionTest, BadFramesAreRefused) {
  struct Case {
    const char* what;
    std::string bytes;
    bool keeps_connection;
  } cases[] = {
      {"unknown code, data skipped", Host("Z00002ab"), true},
      {"length with a letter", Host("S0000A"), false},
      {"length with a blank", Host("S 0000"), false},
      {"length with a sign", Host("S-0001"), false},
      {"raw garbage", Bytes({0x00, 0xFF, 0x13, 0x37, 0x00, 0x01}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HostSession session(&context_);
    std::vector<std::string> replies;
    EXPECT_EQ(c.keeps_connection, session.Receive(c.bytes, &replies));
    ASSERT_EQ(1u, replies.size());
    EXPECT_EQ(Header('1', 0), replies[0]);
    if (c.keeps_connection) {
      EXPECT_EQ(Header('0', 197), Exchange(session, '3', "S").substr(0, 6));
    }
  }
}

}  // namespace
}  // namespace torvan::hostsim
