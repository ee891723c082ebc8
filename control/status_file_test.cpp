// The status file: its text, reading it back (also damaged), liveness; the metrics text.
#include "control/status_file.h"

#include <gtest/gtest.h>

#include "control/metrics_text.h"
#include "control/status_test_util.h"
#include "core/statistics.h"

namespace torvan {
namespace {

using testing::Sample;

TEST(StatusFileTest, TheFileIsKeyValueLinesUnderItsNameThatReadBackTheSame) {
  const std::string text = EncodeStatus(Sample());
  StatusSnapshot back;
  ASSERT_TRUE(DecodeStatus(text, &back).ok());
  EXPECT_EQ(Sample(), back);
  EXPECT_EQ(0u, text.find("TnC_STATO 1\npid=4242\nprogramma=torvan run\n"));
  for (const char* line :
       {"\nStato_Sincronismo=4\n", "\ntrattenuta.3=  ultimo errore: valore = non valido\n",
        "\ndb.1.nome=GESTIONALE\n", "\ndb.1.in_attesa=3\n", "\ndb.1.eta_s=12.5\n",
        "\ndb.3.in_attesa=-1\n", "\nultima_applicata_s=8.0\n", "\nStat_Tempi.1=104.167\n",
        "\nStat_Testi.8=14:05:01 - AS--> DATI/CLIENTI ADD RRN:7 IDX:0\n"}) {
    EXPECT_NE(std::string::npos, text.find(line)) << line;
  }
  EXPECT_EQ(std::string::npos, text.find("Stat_Testi.4="));

  // A line break in a text from the host must not forge a key; Windows-1252 is UTF-8 on file.
  StatusSnapshot s = Sample();
  s.texts[kStatusLine] = "riga\nStato_Sincronismo=0 citt\xE0";
  const std::string forged = EncodeStatus(s);
  EXPECT_NE(std::string::npos,
            forged.find("\nStat_Testi.8=riga\\x0AStato_Sincronismo=0 citt\xC3\xA0\n"));
  ASSERT_TRUE(DecodeStatus(forged, &back).ok());
  EXPECT_EQ(std::tuple(4, "riga\\x0AStato_Sincronismo=0 citt\xE0"),
            std::tuple(back.stato, back.texts[kStatusLine]));

  // The keys of a later version are skipped.
  ASSERT_TRUE(DecodeStatus("TnC_STATO 1\npid=7\nnuova_chiave=x\ndb.2.nuovo=3\n", &back).ok());
  ASSERT_EQ(1u, back.databases.size());
  EXPECT_EQ(std::tuple(7, 2), std::tuple(back.pid, back.databases[0].number));
}

TEST(StatusFileTest, DamagedFilesAreRefusedSayingWhy) {
  const std::string good = EncodeStatus(Sample());
  const std::string not_status = "non \xE8 un file di stato di Torvan";
  const std::pair<std::string, std::string> rows[] = {
      {"", not_status},
      {"[Generale]\nParametri=x\n", not_status},
      {"TnC_STATO 2\npid=1\n", not_status},
      {good.substr(0, good.size() - 3), "file di stato troncato"},
      {"TnC_STATO 1\npid\n", "riga senza \"=\" nel file di stato"},
      {"TnC_STATO 1\nscritto_ms=12x\n", "valore non numerico di scritto_ms nel file di stato"},
      {"TnC_STATO 1\ndb.1.eta_s=nan\n", "valore non numerico di db.1.eta_s nel file di stato"},
      {"TnC_STATO 1\n" + std::string(kStatusFileMax, 'x'), "file di stato troppo grande"},
  };
  for (const auto& [text, why] : rows) {
    StatusSnapshot s;
    EXPECT_EQ(why, DecodeStatus(text, &s).message()) << text.substr(0, 40);
  }
}

TEST(StatusFileTest, OnlyAFreshFileOfALiveProcessIsARunningTorvan) {
  const StatusSnapshot s = Sample();
  const int64_t t = s.written_ms;
  StatusSnapshot ended = s;
  ended.ended = true;
  auto alive = [](int64_t) { return true; };
  auto dead = [](int64_t) { return false; };
  EXPECT_EQ(Liveness::kRunning, StatusLiveness(s, t + 200, alive));
  EXPECT_EQ(Liveness::kRunning, StatusLiveness(s, t + kStatusFreshMs, alive));
  EXPECT_EQ(Liveness::kStale, StatusLiveness(s, t + kStatusFreshMs + 1, alive));
  EXPECT_EQ(Liveness::kStale, StatusLiveness(s, t - kStatusFreshMs - 1, alive));  // clock back
  EXPECT_EQ(Liveness::kGone, StatusLiveness(s, t + 200, dead));
  EXPECT_EQ(Liveness::kEnded, StatusLiveness(ended, t + 200, alive));
}

TEST(MetricsTextTest, EveryFigureIsASampleThatPromtoolAccepts) {
  StatusSnapshot s = Sample();
  s.databases[0].name = "GEST\"IONA\\LE";  // a name the format must escape
  const std::string text = MetricsText(s);
  EXPECT_EQ("", PromtoolCheckMetrics(text)) << text;
  const std::string gest = "{database=\"GEST\\\"IONA\\\\LE\",number=\"1\"}";
  const std::map<std::string, double> expected = {
      {"torvan_build_info{version=\"1.0.0\"}", 1},
      {"torvan_replication_state{state=\"off\"}", 0},
      {"torvan_replication_state{state=\"suspended\"}", 0},
      {"torvan_replication_state{state=\"active\"}", 1},
      {"torvan_cycle_running", 0},
      {"torvan_host_link_up", 1},
      {"torvan_sql_link_up", 1},
      {"torvan_held_change", 1},
      {"torvan_events_in_flight", 1},
      {"torvan_journal_depth", 40},
      {"torvan_journal_apply_lag_seconds", 2.5},
      {"torvan_conflicts_total", 2},
      {"torvan_events_waiting" + gest, 3},
      {"torvan_oldest_event_age_seconds" + gest, 12.5},
      {"torvan_events_count_age_seconds" + gest, 0.4},
      {"torvan_events_count_failed" + gest, 0},
      {"torvan_events_count_failed{database=\"ARCHIVIO\",number=\"3\"}", 1},
      {"torvan_seconds_since_last_change_applied", 8},
      {"torvan_host_to_sql_lag_seconds", 95},
      {"torvan_records_received_total", 12},
      {"torvan_receive_delay_cycles_total", 3},
      {"torvan_records_sent_total", 5},
      {"torvan_send_delay_cycles_total", 0},
      {"torvan_receive_seconds_total", 1.25},
      {"torvan_receive_seconds_per_record", 0.104167},
      {"torvan_send_seconds_total", 0.5},
      {"torvan_send_seconds_per_record", 0.1},
      {"torvan_last_record_info{direction=\"received\",library=\"DATI\",file=\"CLIENTI\"}", 1},
      {"torvan_last_record_info{direction=\"sent\",library=\"DATI\",file=\"CONTATTI\"}", 1},
  };
  // Every sample and no other (the never-counted database has no count), to the microunit.
  std::map<std::string, double> samples = Samples(text);
  for (auto& [name, value] : samples) {
    if (expected.count(name) != 0 && std::abs(expected.at(name) - value) < 1e-6) {
      value = expected.at(name);
    }
  }
  EXPECT_EQ(expected, samples) << text;
  EXPECT_NE(std::string::npos, text.find("\n# TYPE torvan_records_received_total counter\n"));
  EXPECT_NE(std::string::npos, text.find("\n# TYPE torvan_events_waiting gauge\n"));

  // Figures not known are left out.
  const std::string empty = MetricsText(StatusSnapshot{});
  EXPECT_EQ("", PromtoolCheckMetrics(empty)) << empty;
  for (const char* family : {"torvan_events_waiting", "torvan_seconds_since_last_change_applied",
                             "torvan_host_to_sql_lag_seconds", "torvan_last_record_info"}) {
    EXPECT_EQ(std::string::npos, empty.find(family)) << family;
  }
  EXPECT_EQ(0, Samples(empty).at("torvan_records_received_total"));
}

}  // namespace
}  // namespace torvan
