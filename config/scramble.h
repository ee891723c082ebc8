// The reversible scramble of the parameter string and of the SQL passwords.
//
// Character codes 32..123 are mapped onto themselves by a bijection (a blank becomes "!",
// only "{" becomes a blank), the characters are reordered, and a checksum is computed over
// the plain codes. Any other code becomes "¿" (191) and is lost. For every text of
// characters within 32..123, decoding the encoded text gives the text back and both
// routines give the same checksum.
#pragma once

#include <string>
#include <string_view>

namespace torvan {

struct Scrambled {
  std::string text;      // the scrambled (or plain) text, same length as the input
  std::string checksum;  // decimal digits, 7 x the weighted sum of the plain codes
};

Scrambled Codifica_Parametri(std::string_view plain);
Scrambled Decodifica_Parametri(std::string_view scrambled);

}  // namespace torvan
