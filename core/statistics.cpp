#include "core/statistics.h"

#include <cstdio>

namespace torvan {

void Statistiche_Reset(Statistics& s) {
  s.Ritardo_Link = 0;
  for (int i = 0; i < 4; ++i) {
    s.Stat_Contatori[i] = 0;
    s.Stat_Tempi[i] = 0;
    s.Stat_Testi[i].clear();
  }
}

bool Statistiche_Overflow(Statistics& s) {
  for (int32_t c : s.Stat_Contatori) {
    if (c > 2000000000) {
      int32_t link = s.Ritardo_Link;
      Statistiche_Reset(s);
      s.Ritardo_Link = link;
      return true;
    }
  }
  return false;
}

void Statistiche_AddRecord(Statistics& s, StatCounter counter_index, StatTime seconds_index,
                           double start, double end) {
  s.Stat_Contatori[counter_index] += 1;
  double spent = end - start;
  if (end < start) spent += 86400;
  s.Stat_Tempi[seconds_index] += float(spent);
  int32_t count = s.Stat_Contatori[counter_index];
  s.Stat_Tempi[size_t(seconds_index) + 1] =
      count != 0 ? float(double(s.Stat_Tempi[seconds_index]) * 1000.0 / count) : 0.0f;
}

std::string FormatCount(int32_t value) {
  return value == 0 ? std::string() : std::to_string(value);
}

std::string FormatSeconds(float value) {
  if (value == 0) return {};
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", double(value));
  return buf;
}

std::string FitRight(std::string text, int width, const MeasureText& measure) {
  int w = measure(text);
  while (!text.empty() && w > width) {
    text.erase(0, 1);
    w = measure(text);
  }
  int spare = width - w;
  if (spare > 44) text.insert(0, size_t(spare / 45), ' ');
  return text;
}

std::string FitLeft(std::string text, int width, const MeasureText& measure) {
  int w = measure(text);
  while (!text.empty() && w > width) {
    text.pop_back();
    w = measure(text);
  }
  int spare = width - w;
  if (spare > 44) text.append(size_t(spare / 45), ' ');
  return text;
}

const std::array<StatField, 17>& StatFields() {
  using S = StatField::Source;
  static const std::array<StatField, 17> fields = {{
      {S::kCounter, kRecordsReceived, 3570, 885, 1245, true, "Numero dei records ricevuti"},
      {S::kCounter, kReceiveDelayCycles, 5790, 885, 1245, true, "Cicli di ritardo in ricezione"},
      {S::kCounter, kRecordsSent, 3570, 1245, 1245, true, "Numero dei records inviati"},
      {S::kCounter, kSendDelayCycles, 5790, 1245, 1245, true, "Cicli di ritardo in invio"},
      {S::kTime, kSecondsReceiving, 2250, 885, 1515, true,
       "Secondi impiegati per ricevere records"},
      {S::kTime, kMsPerRecordReceived, 4470, 885, 795, true, "Tempo medio per ricevere un record"},
      {S::kTime, kSecondsSending, 2250, 1245, 1515, true, "Secondi impiegati per inviare records"},
      {S::kTime, kMsPerRecordSent, 4470, 1245, 795, true, "Tempo medio per inviare un record"},
      {S::kText, kLibraryReceived, 5925, 885, 1515, false, "Libreria dell'ultimo record ricevuto"},
      {S::kText, kFileReceived, 7545, 885, 1575, false, "File dell'ultimo record ricevuto"},
      {S::kText, kLibrarySent, 5925, 1245, 1515, false, "Libreria dell'ultimo record inviato"},
      {S::kText, kFileSent, 7545, 1245, 1575, false, "File dell'ultimo record inviato"},
      {S::kText, kDateText, 105, 1665, 900, false, "Data corrente"},
      {S::kText, kTimeText, 1140, 1665, 480, false, "Ora corrente"},
      {S::kText, kHostStopText, 1985, 1665, 1185, false,
       "Data ora di spegnimento del server origine"},
      {S::kText, kHostRestartText, 3315, 1665, 1185, false,
       "Data ora di riaccensione del server origine"},
      {S::kText, kStatusLine, 4605, 1665, 4515, false, "Messaggio di stato"},
  }};
  return fields;
}

std::string StatFieldText(const Statistics& s, const StatField& f, const MeasureText& measure) {
  switch (f.source) {
    case StatField::Source::kCounter:
      return FitRight(FormatCount(s.Stat_Contatori[f.index]), f.width, measure);
    case StatField::Source::kTime:
      return FitRight(FormatSeconds(s.Stat_Tempi[f.index]), f.width, measure);
    case StatField::Source::kText:
      break;
  }
  return FitLeft(s.Stat_Testi[f.index], f.width, measure);
}

}  // namespace torvan
