// Asking the operator before rows are lost.
//
// The schema operations never open a box themselves: they ask through Confirmations,
// which the desktop application implements with a message box centred on the owner window
// and the command line with the terminal (or a fixed answer). The texts are built here so
// that both show the same words.
#pragma once

#include <string>
#include <string_view>

namespace torvan {

// The window a box is centred on.
enum class Owner { kMainWindow, kBrowser };

class Confirmations {
 public:
  virtual ~Confirmations() = default;
  // A critical-stop box with OK only (style 16): the operator can only acknowledge it.
  virtual void ShowRefusal(Owner owner, std::string_view title, std::string_view text) = 0;
  // A critical-stop box with OK and Cancel (style 17): true only for OK. A box closed any
  // other way is Cancel.
  virtual bool AskOkCancel(Owner owner, std::string_view title, std::string_view text) = 0;
};

inline constexpr char kCancellaFileTitle[] = " Cancella File ";

// "manca il permesso alla cancellazione" CR "del file <db>/<table>" CR.
std::string RefusalText(std::string_view db, std::string_view table);
// "il file <db>/<table> contiene <count>" CR "record(s) " CR CR CR "premere 'OK' per
// cancellare" CR "premere 'Annulla' per NON cancellare" CR.
std::string QuestionText(std::string_view db, std::string_view table, std::string_view count);

// The count as "###,##0": digits grouped by three with the thousands separator of the
// user's locale (LC_NUMERIC; none in the C locale).
std::string FormatRowCount(long long count);
// The same with an explicit separator, empty for none.
std::string FormatRowCount(long long count, std::string_view separator);

}  // namespace torvan
