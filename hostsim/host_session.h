// The host server program TNM_121 on one connection: reads request frames and answers
// each with exactly one reply frame, in request order.
//
//   P  stop time (1-14), restart time (15-28), host clock yyyymmddhhnnssmmm (29-45)
//   T  "S" at 1 when the host server is stopping now ("N" otherwise), restart time at
//      15-28, host clock at 29-45
//   S  the next queued change (change record below); outcome "1" when none is waiting.
//      A new S request on the same connection acknowledges the change delivered before
//      it; a change delivered on a connection that then closed is delivered again.
//   I  one chunk (at most 8192 raw bytes) of a part of an image of TNP_ARC_0F; outcome
//      "1" past the last chunk
//   3 1 2  one entry of the database, file or field list per request ("S" first, "N"
//      next); outcome "1" past the last entry
//   R  executes the statement; data = the status character (statement_runner.h)
//
// Every reply's data part is laid out as hostlink/host_format.h writes it down
// (time_reply, change_record, image_request, database_entry, file_entry, field_entry).
// In the change record torvan-host puts the before image at offset 0 and the after image
// right behind it, the change's sequence number (8 digits) in the first field the PC does
// not read, the time of the change (yyyymmddhhnnss) in the 14-character text, and blanks
// in the second unread field.
//
// Every reply is outcome + five zoned length digits + data, texts in the host code of
// the character table. A refusal (outcome "1", or any other but "0" with a variation,
// variation.h) has no data. A frame whose length is not
// five digits cannot be skipped: it is refused and the connection closed. The session
// is pure: bytes in, reply frames out; the server owns the socket.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "hostlink/char_table.h"
#include "hostsim/faults.h"
#include "hostsim/host_store.h"
#include "hostsim/variation.h"
#include "platform/clock.h"

namespace torvan::hostsim {

// What every session of the server shares.
struct HostContext {
  HostStore* store = nullptr;
  const hostlink::CharTables* tables = nullptr;
  platform::Clock* clock = nullptr;
  Faults* faults = nullptr;
  bool verbose = false;       // log every request on standard error
  Variation* vary = nullptr;  // the freedoms taken; nullptr: none
};

class HostSession {
 public:
  explicit HostSession(HostContext* context) : context_(context) {}

  // The 6-byte header with outcome "0" sent as soon as a connection is accepted; its
  // length digits, which no one reads, vary with `vary`.
  static std::string Greeting(const hostlink::CharTables& tables, Variation* vary = nullptr);

  // Takes received bytes; appends one reply frame to `replies` for each complete request,
  // while the replies appended by this call total less than `budget` bytes (the requests
  // left wait, buffered, for a later call; `bytes` may then be empty). Returns false when
  // the connection must close after the replies are sent.
  bool Receive(std::string_view bytes, std::vector<std::string>* replies, size_t budget = SIZE_MAX);

  // Bytes received and not answered yet: part of a frame, or requests a budget left.
  size_t pending() const { return input_.size() - consumed_; }

 private:
  std::string Reply(char code, std::string_view data);
  std::string Served(std::string_view host_data);
  std::string Refused();
  std::string TimeReply(bool restart_wait);
  std::string ChangeReply();
  std::string ImageReply(std::string_view data);
  std::string ListReply(char code, std::string_view data);
  std::string StatementReply(std::string_view data);

  HostContext* context_;
  std::string input_;
  size_t consumed_ = 0;
  int64_t delivered_seq_ = 0;  // change delivered by the last S, 0 when none
  size_t database_cursor_ = 0, file_cursor_ = 0, field_cursor_ = 0;
  const HostFile* field_file_ = nullptr;
};

}  // namespace torvan::hostsim
