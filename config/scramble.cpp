#include "config/scramble.h"

#include <cstdint>

namespace torvan {

namespace {

constexpr unsigned char kLost = 191;  // "¿"

bool Mapped(int c) { return c >= 32 && c <= 123; }

int Image(int c) {
  int k = c - 31;
  return k <= 46 ? 31 + 2 * k : 31 + (185 - 2 * k);
}

int Preimage(int c) {
  int t = (c % 2 == 1) ? c - 31 : 216 - c;
  return 31 + t / 2;
}

}  // namespace

Scrambled Codifica_Parametri(std::string_view plain) {
  const size_t n = plain.size();
  Scrambled out;
  out.text.reserve(n);
  int64_t sum = 0;
  for (size_t i = 1; i <= n; ++i) {
    // Positions 2, 4, 6, ... ascending, then the odd ones descending: 2i <= L <=> i <= L/2.
    size_t p = (2 * i <= n) ? 2 * i : 2 * n + 1 - 2 * i;
    int c = static_cast<unsigned char>(plain[p - 1]);
    sum += (i % 2 == 1) ? 3 * c : 5 * c;
    out.text += Mapped(c) ? char(Image(c)) : char(kLost);
  }
  out.checksum = std::to_string(7 * sum);
  return out;
}

Scrambled Decodifica_Parametri(std::string_view scrambled) {
  const size_t n = scrambled.size();
  Scrambled out;
  out.text.reserve(n);
  int64_t sum = 0;
  for (size_t j = 1; j <= n; ++j) {
    size_t q = (j % 2 == 1) ? n - (j - 1) / 2 : j / 2;
    int c = static_cast<unsigned char>(scrambled[q - 1]);
    if (Mapped(c)) {
      int plain = Preimage(c);
      out.text += char(plain);
      sum += (q % 2 == 1) ? 3 * plain : 5 * plain;
    } else {
      out.text += char(kLost);
    }
  }
  out.checksum = std::to_string(7 * sum);
  return out;
}

}  // namespace torvan
