// Replication statistics and the rules that turn them into the status display's fields.
//
// The replication steps add to the arrays; the display timer formats and fits every field
// with the functions below and only draws the result. Positions and widths are in twips
// (1/1440 inch) from the main window's client origin.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace torvan {

// The slots of the three arrays, by what they hold.
enum StatCounter : int {
  kRecordsReceived = 0,     // "Numero dei records ricevuti"
  kReceiveDelayCycles = 1,  // "Cicli di ritardo in ricezione"
  kRecordsSent = 2,         // "Numero dei records inviati"
  kSendDelayCycles = 3,     // "Cicli di ritardo in invio"
};
enum StatTime : int {
  kSecondsReceiving = 0,  // seconds spent receiving records
  kMsPerRecordReceived = 1,
  kSecondsSending = 2,  // seconds spent sending records
  kMsPerRecordSent = 3,
};
enum StatText : int {
  kLibraryReceived = 0,  // library and file of the last record received
  kFileReceived = 1,
  kLibrarySent = 2,  // library and file of the last record sent
  kFileSent = 3,
  kDateText = 4,      // "dd/mm/yyyy"
  kTimeText = 5,      // "hh:nn"
  kHostStopText = 6,  // the host's shutdown, "dd/mm/yy  hh:nn", "Stop" or "Attivo"
  kHostRestartText = 7,
  kStatusLine = 8,  // the last time-stamped message line
};

struct Statistics {
  std::array<int32_t, 4> Stat_Contatori{};  // by StatCounter
  std::array<float, 4> Stat_Tempi{};        // by StatTime
  std::array<std::string, 9> Stat_Testi{};  // by StatText
  // Empty polls of the link's own reads; not displayed.
  int32_t Ritardo_Link = 0;
};

// Clears the link counter and indices 0..3 of the three arrays (texts 4..8 stay).
void Statistiche_Reset(Statistics& s);

// When any counter is above 2000000000, clears indices 0..3 of the three arrays (the link
// counter stays). Returns true when it cleared them.
bool Statistiche_Overflow(Statistics& s);

// Adds `seconds` to a time accumulator and recomputes the average in ms per record, as the
// replication steps do after each record: `end` below `start` means midnight passed.
// `counter` is kRecordsReceived or kRecordsSent and `seconds` the matching
// kSecondsReceiving or kSecondsSending; the average follows `seconds`.
void Statistiche_AddRecord(Statistics& s, StatCounter counter, StatTime seconds, double start,
                           double end);

// "#0": the whole number, or empty when 0.
std::string FormatCount(int32_t value);
// "#0.000": three decimals with ".", or empty when 0.
std::string FormatSeconds(float value);

// Printed width of a text in twips, as the window's font measures it.
using MeasureText = std::function<int(std::string_view)>;

// A right-aligned field: leading characters are dropped until the text fits `width`; a
// spare width above 44 twips is filled by spare / 45 leading blanks.
std::string FitRight(std::string text, int width, const MeasureText& measure);
// A left-aligned field: trailing characters are dropped until it fits; spare / 45 blanks
// are appended.
std::string FitLeft(std::string text, int width, const MeasureText& measure);

// One drawn field of the status display.
struct StatField {
  enum class Source { kCounter, kTime, kText };
  Source source;
  int index;        // into Stat_Contatori, Stat_Tempi or Stat_Testi
  int x, y, width;  // anchor, top and width in twips
  bool right;       // right-aligned: the text ends at x + 15
  const char* tooltip;
};

// The seventeen fields in drawing order: four counters, four times, nine texts.
const std::array<StatField, 17>& StatFields();

// The text of one field, formatted and fitted.
std::string StatFieldText(const Statistics& s, const StatField& f, const MeasureText& measure);

}  // namespace torvan
