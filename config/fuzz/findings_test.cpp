// What fuzzing the settings found, pinned down with exact texts: a NUL typed into a text
// box is refused like every other character the scramble cannot keep (it used to pass,
// and came back as "¿"), and a number box holding more than the five characters its field
// keeps is refused (its digits used to be cut off: "     46" came back as 0).
#include <gtest/gtest.h>

#include "config/settings.h"

namespace torvan {
namespace {

TEST(OptionsFormNul, IsACharacterTheScrambleCannotKeep) {
  const std::string refusal = std::string("il carattere \"") + '\0' +
                              "\" non si pu\xF2 memorizzare (solo i codici da 32 a 123)";
  EXPECT_EQ("Nome_Connessione: " + refusal,
            OptionsForm_CheckBox("Nome_Connessione", std::string("127.\0.0.1", 9)));
  EXPECT_EQ("Utente: " + refusal, OptionsForm_CheckBox("Utente", std::string("\0", 1)));

  OptionsForm form = OptionsForm_Standard();
  std::string error;
  EXPECT_FALSE(OptionsForm_Set(form, "Libreria", std::string("TM\0", 3), &error));
  EXPECT_EQ("Libreria: " + refusal, error);
  EXPECT_EQ("TM", form.txtIN16);
}

TEST(OptionsFormNumberBox, HoldsWhatItsFiveCharactersKeep) {
  struct Row {
    const char* meaning;
    const char* name;
    const char* text;
    std::string error;
  };
  const Row rows[] = {
      {"digits after five blanks", "Porta", "     46",
       "Porta: un numero intero da 1 a 65535, non \"     46\""},
      {"digits before a long tail of blanks", "Attesa_Sincronizz", "46      ",
       "Attesa_Sincronizz: un numero intero da 0 a 99999, non \"46      \""},
      {"digits with blanks around them, five in all", "Porta_FTP", " 21  ", ""},
      {"five digits", "Attesa_Restart", "99999", ""},
  };
  for (const Row& r : rows) EXPECT_EQ(r.error, OptionsForm_CheckBox(r.name, r.text)) << r.meaning;

  // What the check lets through reads back as typed.
  OptionsForm form = OptionsForm_Standard();
  form.txtIN17 = " 21  ";
  EXPECT_TRUE(OptionsForm_Check(form).empty());
  EXPECT_EQ(21, ParseParameterString(OptionsForm_Normalise(form)).parametri.Porta_FTP);
}

}  // namespace
}  // namespace torvan
