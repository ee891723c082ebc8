// The freedoms the PC's side of the protocol leaves the host, taken at random from a seed
// ("serve --vary SEED", "table --seed SEED"), so that a PC depending on bytes a real host
// may fill otherwise fails where torvan-host is used. With seed 0 nothing varies and
// torvan-host answers in its own plain way.
//
// What varies, each where the PC's side says it is not looked at:
//   - the five length digits of the greeting (only its outcome is read);
//   - the outcome character of a refusal (anything but "0" means refused);
//   - positions 2-21 of a field entry (library and file, file and library, blanks, any
//     text) and the description at 22-71 of a database entry;
//   - in a T reply positions 2-28 (only the flag and the clock are read);
//   - in a change record the positions the PC does not read (9-16, 56-58) and the
//     14-character text (41-54);
//   - bytes after the status of an R reply;
//   - the FTP reply texts after their codes, and replies of more than one line;
//   - the six header bytes of the character table the host hands out.
// Used by the server's one thread only.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace torvan::hostsim {

class Variation {
 public:
  explicit Variation(uint64_t seed = 0) : on_(seed != 0), rng_(seed) {}
  bool on() const { return on_; }

  // `n` bytes of any value (0..255), for positions no one reads.
  std::string Bytes(size_t n);
  // `n` PC characters of letters, digits and blanks, for texts no one stores.
  std::string Text(size_t n);
  // The outcome of a refused request, a PC character other than "0".
  char RefusalOutcome();
  // Positions 2-21 of a field entry of `library`/`file` (PC text, 20 characters).
  std::string FieldEntryOwner(std::string_view library, std::string_view file);
  // A number from 0 to n - 1.
  size_t Below(size_t n) { return n == 0 ? 0 : size_t(rng_() % n); }

  // The reply lines of an FTP reply "<code> <text>": with variation another text, at
  // times after continuation lines "<code>-...".
  std::string FtpReply(int code, const std::string& text);

 private:
  bool on_;
  std::mt19937_64 rng_;
};

}  // namespace torvan::hostsim
