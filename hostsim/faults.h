// Faults that torvan-host injects on command ("torvan-host ctl fault ..."), so Torvan's
// handling of a misbehaving host can be seen and tested:
//
//   close-after N        close the connection after N bytes of the next reply
//   delay MS             delay every reply by MS milliseconds (0: off)
//   split N              send every reply in segments of N bytes (0: off)
//   pair [MS]            send the next reply together with the one after it, in one
//                        segment (held at most MS ms, default 2000, when no further
//                        reply comes; then it goes alone)
//   corrupt-length       the next reply's length digits are not digits
//   refuse CODE N        the next N requests of code CODE are refused (outcome "1")
//   refuse-statements N [STATUS]
//                        the next N R statements are not executed: without STATUS the
//                        request is refused (outcome "1"), as a host that cannot take it
//                        now; with STATUS (any character but a blank) the statement is
//                        answered with that status, as a host that refuses it
//   refuse-login N       the next N FTP logins are rejected (530)
//   clear                every fault off
//
// Each fault counts the times it took effect; Report lists settings and counts. One
// Faults object belongs to the server and is used on its one thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/status.h"

namespace torvan::hostsim {

inline constexpr int kPairHoldMs = 2000;  // default hold of "pair"

class Faults {
 public:
  // Applies a "fault" command (arguments after the word "fault"). A malformed command
  // is InvalidArgument and changes nothing.
  Status Command(const std::vector<std::string>& args);

  // One line per fault: its name, its setting, and "applied N".
  std::string Report() const;

  // Request-level faults: true when this request (statement, login) must be refused;
  // each true answer uses up one of the refusals and is counted.
  bool TakeRefusal(char code);
  // For a statement refusal `*status` is the status to answer, or '\0' for outcome "1".
  bool TakeStatementRefusal(char* status);
  bool TakeLoginRefusal();

  // Reply-level faults, asked once for every reply the host server program sends.
  struct Shape {
    int close_after = -1;  // bytes to send before closing; -1: send it all
    int delay_ms = 0;
    int split = 0;          // segment size; 0: one segment
    int pair_hold_ms = -1;  // >= 0: hold until the next reply, at most this long
    bool corrupt_length = false;
  };
  Shape TakeReplyShape();

 private:
  int close_after_ = -1;
  int delay_ms_ = 0;
  int split_ = 0;
  int pair_hold_ms_ = -1;
  bool corrupt_length_ = false;
  std::map<char, int64_t> refuse_;
  int64_t refuse_statements_ = 0;
  char refusal_status_ = '\0';
  int64_t refuse_login_ = 0;
  std::map<std::string, int64_t> applied_;
};

}  // namespace torvan::hostsim
