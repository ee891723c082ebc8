#include "hostsim/variation.h"

#include "core/text.h"

namespace torvan::hostsim {

std::string Variation::Bytes(size_t n) {
  std::string out(n, '\0');
  for (char& c : out) c = char(rng_() & 0xFF);
  return out;
}

std::string Variation::Text(size_t n) {
  static constexpr std::string_view kChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijkl 0123456789 ";
  std::string out(n, ' ');
  for (char& c : out) c = kChars[Below(kChars.size())];
  return out;
}

char Variation::RefusalOutcome() {
  static constexpr std::string_view kOutcomes = "1123456789ENX*";
  return on_ ? kOutcomes[Below(kOutcomes.size())] : '1';
}

std::string Variation::FieldEntryOwner(std::string_view library, std::string_view file) {
  const std::string lib = PadRight(library, 10), name = PadRight(file, 10);
  if (!on_) return lib + name;
  switch (Below(4)) {
    case 0:
      return lib + name;
    case 1:
      return name + lib;
    case 2:
      return std::string(20, ' ');
    default:
      return Text(20);
  }
}

std::string Variation::FtpReply(int code, const std::string& text) {
  const std::string c = std::to_string(code);
  if (!on_) return c + " " + text + "\r\n";
  static constexpr std::string_view kTexts[] = {"OK.", "Fatto.", "Richiesta eseguita",
                                                "Subcommand processed", ""};
  std::string out;
  for (size_t lines = Below(3); lines > 0; --lines) out += c + "-" + Text(12) + "\r\n";
  const std::string_view other = kTexts[Below(std::size(kTexts))];
  return out + c + " " + (Below(2) == 0 ? text : std::string(other)) + "\r\n";
}

}  // namespace torvan::hostsim
