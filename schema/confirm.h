// Asking the operator before rows are lost.
//
// The schema operations never open a box themselves: they ask through Confirmations,
// which the desktop application implements with a message box centred on the owner window
// and the command line with the terminal (or a fixed answer). The texts are built here so
// that both show the same words.
#pragma once

#include <cstdint>
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
  // other way is Cancel. `unsent` counts the changes not yet sent to the host that OK
  // throws away (0: none); the text already says so, and an answer given in advance for
  // every question (the command line's --yes) does not cover them.
  virtual bool AskOkCancel(Owner owner, std::string_view title, std::string_view text,
                           int64_t unsent) = 0;
};

inline constexpr char kCancellaFileTitle[] = " Cancella File ";

// "manca il permesso alla cancellazione" CR "del file <db>/<table>" CR.
std::string RefusalText(std::string_view db, std::string_view table);
// "il file <db>/<table> contiene <count>" CR "record(s) " CR CR CR "premere 'OK' per
// cancellare" CR "premere 'Annulla' per NON cancellare" CR.
std::string QuestionText(std::string_view db, std::string_view table, std::string_view count);

// "<n> modifiche non ancora inviate al sistema origine andranno perse" ("1 modifica non
// ancora inviata ... andrà persa"), n as "###,##0". The question's extra line is
// "ATTENZIONE: " + this + CR.
std::string UnsentText(int64_t unsent);

}  // namespace torvan
