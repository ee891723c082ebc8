#include "hostsim/host_session.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "hostsim/statement_runner.h"
#include "hostsim/test_support.h"
#include "platform/file.h"

namespace torvan::hostsim {
namespace {

using testing::Header;
using testing::Host;
using testing::Request;
using testing::Tables;

// Sessions on a store of a copy of examples/host, its clock fixed.
class HostSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store_ = testing::OpenStore(sample_.path(), codec_, &clock_));
    context_ = {store_.get(), &Tables(), &clock_, &faults_, false};
  }
  HostFile* File(const std::string& name) { return store_->data().FindFile(name); }

  // Sends one request through a session and returns the one reply it produced.
  std::string Exchange(HostSession& session, char code, const std::string& data) {
    std::vector<std::string> replies;
    EXPECT_TRUE(session.Receive(Request(code, data), &replies));
    EXPECT_EQ(1u, replies.size());
    return replies.empty() ? "" : replies[0];
  }

  // The replies of a whole list ("S", then "N" until refused), asked twice: "S" restarts it.
  std::vector<std::string> List(HostSession& session, char code, const std::string& request = "") {
    std::vector<std::string> replies[2];
    for (auto& list : replies) {
      for (std::string flag = "S"; list.size() < 100; flag = "N") {
        std::string reply = Exchange(session, code, flag + request);
        if (reply == Header('1', 0)) break;
        list.push_back(reply);
      }
    }
    EXPECT_EQ(replies[0], replies[1]);
    return replies[0];
  }

  testing::SampleHost sample_;
  platform::FakeClock clock_{{2026, 12, 5, 14, 5, 9, 42}};
  RecordCodec codec_{Tables()};
  std::unique_ptr<HostStore> store_;
  Faults faults_;
  HostContext context_;
};

TEST_F(HostSessionTest, GreetingAndTimeRepliesWithStopRestartAndClock) {
  EXPECT_EQ(std::string(6, '\xF0'), HostSession::Greeting(Tables()));
  HostSession session(&context_);
  const struct {
    char code;
    Schedule schedule;  // none set: stop tomorrow at this time, restart an hour later
    std::string reply;  // stop, restart, clock; T: the stopping flag first, no restart: +1 h
  } rows[] = {
      {'P', {}, "202612061405092026120615050920261205140509042"},
      {'P',
       {"20261205220000", "20261206063000", false},
       "202612052200002026120606300020261205140509042"},
      {'T', {"20261205220000", "", false}, "N             2026120523000020261205140509042"},
  };
  for (const auto& r : rows) {
    if (!r.schedule.stop.empty()) {
      ASSERT_TRUE(store_->SetSchedule(r.schedule).ok());
    }
    EXPECT_EQ(Header('0', 45) + Host(r.reply), Exchange(session, r.code, "20261205140509000000"));
  }
}

TEST_F(HostSessionTest, DatabaseFileAndFieldListEntries) {
  HostSession session(&context_);
  auto pc = [](const std::vector<std::string>& replies, size_t length) {
    std::vector<std::string> data;
    for (const std::string& r : replies) {
      EXPECT_EQ(Header('0', int(length)), r.substr(0, 6));
      data.push_back(Tables().ToPc(r.substr(6)));
    }
    return data;
  };
  const std::string db = PadRight("SQLSRV01", 20) + PadRight("127.0.0.1", 16) +
                         PadRight("torvan", 20) + PadRight("Segreta1", 20);
  EXPECT_EQ((std::vector<std::string>{
                " GESTIONALE          " +
                    PadRight("Gestionale: clienti, articoli, ordini, contatti", 50) + db +
                    std::string(50, ' '),
                " ARCHIVIO            " + PadRight("Archivio immagini dei documenti", 50) + db +
                    PadRight("immagini/", 50)}),
            pc(List(session, '3'), 197));

  const std::vector<std::string> files = pc(List(session, '1'), 134);
  ASSERT_EQ(5u, files.size());
  EXPECT_EQ(" DATI      CONTATTI  " + PadRight("Contatti commerciali (anche da SQL)", 50) +
                "DATI      TRGCON    SSNGESTIONALE          " + std::string(20, ' '),
            files[3]);  // As_Pc, Pc_As, Acq
  EXPECT_EQ("DATI      FLTART    ", files[1].substr(114));
  EXPECT_EQ("TNP_ARC_0F", files[4].substr(11, 10));

  // VALORE, P 17,3 at 121 in 9 bytes: the numbers packed.
  const std::vector<std::string> fields = List(session, '2', "DATI      CONTATTI  ");
  ASSERT_EQ(11u, fields.size());
  EXPECT_EQ(Header('0', 95) +
                Host(" DATI      CONTATTI  VALORE    " + PadRight("Valore stimato", 50) + "P") +
                std::string("\x00\x01\x7F\x00\x00\x3F\x00\x12\x1F\x00\x00\x9F", 12) + Host(" "),
            fields[6]);
  // The index field comes out of the table as "§_T_IDX___": host 0x7C first.
  EXPECT_EQ('\x7C', fields[7][6 + 21]);
  EXPECT_EQ("\xA7_T_IDX___", Tables().ToPc(fields[7].substr(6 + 21, 10)));
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

// An update carries both images, a delete the deleted record in both, a clear none. The
// next S acknowledges a change; one delivered on a connection that dropped comes again.
TEST_F(HostSessionTest, ChangeRecordsAcknowledgedByTheNextRequestAndRedelivered) {
  HostFile* clienti = File("DATI/CLIENTI");
  const std::string before = clienti->records.at(2);
  std::string after = before;
  ASSERT_TRUE(codec_.PutField(*clienti->FindField("FIDO"), "-7.25", &after).ok());
  ASSERT_TRUE(store_->Update(clienti, 2, after, true).ok());
  HostFile* ordini = File("DATI/ORDINI");
  const std::string record = ordini->records.at(3);
  ASSERT_TRUE(store_->Delete(ordini, 3, true).ok());
  ASSERT_TRUE(store_->Clear(ordini, true).ok());

  HostSession first(&context_);
  // Before and after offsets, sequence number, RRN, file, library, time, kind.
  EXPECT_EQ(Header('0', 58 + 2 * clienti->record_length) + std::string(7, '\0') +
                char(clienti->record_length) + Host("00000001") + std::string("\0\0\0\2", 4) +
                Host("CLIENTI   DATI      20261205140509"
                     "3   ") +
                before + after,
            Exchange(first, 'S', ""));
  EXPECT_EQ(3u, store_->QueueSize());  // delivered, not yet acknowledged
  const std::string delete_change = Exchange(first, 'S', "");
  EXPECT_EQ(Host("2"), delete_change.substr(6 + 54, 1));
  EXPECT_EQ(record + record, delete_change.substr(6 + 58));
  EXPECT_EQ(2u, store_->QueueSize());

  HostSession second(&context_);
  EXPECT_EQ(delete_change, Exchange(second, 'S', ""));
  const std::string clear_change = Exchange(second, 'S', "");
  EXPECT_EQ(Header('0', 58), clear_change.substr(0, 6));
  EXPECT_EQ(Host("4"), clear_change.substr(6 + 54, 1));
  EXPECT_EQ(1u, store_->QueueSize());
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
  const struct {
    std::string request;  // key (10), kind, part, chunk
    std::string reply;    // whole, or only its header when `header_only`
    bool header_only = false;
  } rows[] = {
      {"PIANTA000310000100001", Header('0', 8192) + file.substr(0, 8192)},
      {"PIANTA000310000100002", Header('0', 4150) + file.substr(8192)},
      {"PIANTA000310000100003", none},
      {"PIANTA000310000200001", none},
      // Two parts of one image; a key with no image; malformed requests.
      {"SCHEDA000410000200001", Header('0', 186), true},
      {"DOC000000510000100001", none},
      {"../secrets10000100001", none},
      {"FOTO00000110000x00001", none},
      {"FOTO000001", none},
  };
  for (const auto& row : rows) {
    const std::string reply = Exchange(session, 'I', row.request);
    EXPECT_EQ(row.reply, row.header_only ? reply.substr(0, 6) : reply) << row.request;
  }
}

class StatementTest : public HostSessionTest {
 protected:
  // What the session answers to statement `text`: an empty reply, or its status letter.
  std::string Run(const std::string& text) {
    const std::string reply = Exchange(session_, 'R', text);
    return reply == Header('0', 1) + Host(" ") ? "" : reply;
  }
  std::string Value(int32_t rrn, const char* field) {
    HostFile* contatti = File("DATI/CONTATTI");
    std::string v;
    EXPECT_TRUE(codec_.GetField(*contatti->FindField(field), contatti->records.at(rrn), &v).ok());
    return v;
  }
  HostSession session_{&context_};
};

// The PC's statements change the records and are not sent back as changes.
TEST_F(StatementTest, InsertUpdateDeleteByIndexAndByRrn) {
  HostFile* contatti = File("DATI/CONTATTI");
  EXPECT_EQ("", Run("INSERT INTO DATI/CONTATTI (CODCLI,NOMINATIVO,VALORE,\xA7_T_IDX___) "
                    "VALUES('C00002', 'Sig. D''Amico', -1234.5, 57)"));
  ASSERT_EQ(1u, contatti->records.count(3));  // after the two sample records
  EXPECT_EQ("Sig. D'Amico" + std::string(18, ' '), Value(3, "NOMINATIVO"));
  EXPECT_EQ("-00000000001234.500 ", Value(3, "VALORE"));
  EXPECT_EQ("57", Value(3, "\xA7_T_IDX___"));
  EXPECT_EQ("00000000", Value(3, "DATA"));  // not named: empty
  EXPECT_EQ("", Run(" UPDATE DATI/CONTATTI a SET NOTA='Richiamare', ESITO='P', \xA7_T_IDX___=57 "
                    "WHERE \xA7_T_IDX___=57"));
  EXPECT_EQ("Richiamare", Trim(Value(3, "NOTA")));
  EXPECT_EQ("Sig. D'Amico", Trim(Value(3, "NOMINATIVO")));  // untouched
  EXPECT_EQ("", Run(" UPDATE DATI/CONTATTI a SET ESITO='N' WHERE RRN(a)=1"));
  EXPECT_EQ("N", Value(1, "ESITO"));
  EXPECT_EQ("", Run(" DELETE FROM DATI/CONTATTI a WHERE \xA7_T_IDX___=57"));
  EXPECT_EQ(0u, contatti->records.count(3));
  EXPECT_EQ("", Run(" DELETE FROM DATI/CONTATTI a WHERE RRN(a)=2"));
  EXPECT_EQ(1u, contatti->records.size());
  EXPECT_EQ(0u, store_->QueueSize());
}

// Each refusal answers its status letter and changes nothing; an injected refusal answers
// outcome 1, or the letter it was given.
TEST_F(StatementTest, RefusalsAnswerTheirStatusAndChangeNothing) {
  const std::map<int32_t, std::string> records = File("DATI/CONTATTI")->records;
  auto set = [](const std::string& values, const std::string& where = "RRN(a)=1") {
    return " UPDATE DATI/CONTATTI a SET " + values + " WHERE " + where;
  };
  const std::pair<std::string, std::string> cases[] = {
      {"S", "DROP TABLE DATI/CONTATTI"},
      {"F", " DELETE FROM DATI/NESSUNO a WHERE RRN(a)=1"},
      {"C", set("COLORE='x'")},
      {"C", " DELETE FROM DATI/CONTATTI a WHERE COLORE=1"},
      {"N", set("ESITO='x'", "RRN(a)=99")},
      {"N", " DELETE FROM DATI/CONTATTI a WHERE \xA7_T_IDX___=4242"},
      {"V", set("ESITO='PN'")},              // text too long
      {"V", set("VALORE=123456789012345")},  // too many digits
      {"V", set("VALORE=1.2345")},           // too many decimals
      {"V", set("DATA='ieri'")},             // not a number
      {"V", set("NOTA='ok', ESITO='PN'")},   // after a value that fits
      {"V", "INSERT INTO DATI/CONTATTI (CODCLI,\xA7_T_IDX___) VALUES('X', 1234567890)"},
  };
  for (const auto& [status, text] : cases) {
    EXPECT_EQ(Header('0', 1) + Host(status), Run(text)) << text;
  }
  const std::string del = " DELETE FROM DATI/CONTATTI a WHERE RRN(a)=1";
  ASSERT_TRUE(faults_.Command({"refuse-statements", "1"}).ok());
  EXPECT_EQ(Header('1', 0), Run(del));
  ASSERT_TRUE(faults_.Command({"refuse-statements", "1", "#"}).ok());
  EXPECT_EQ(Header('0', 1) + Host("#"), Run(del));
  EXPECT_EQ(records, File("DATI/CONTATTI")->records);
}

}  // namespace
}  // namespace torvan::hostsim
