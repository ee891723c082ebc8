// The replies one torvan-host connection has yet to send, and the caps on them. No socket
// here: the server sends what sending() shows and says how much left (Sent).
//
// A reply goes out at once, or shaped by the faults (faults.h) as segments with a time
// each: delayed, split into pieces a few milliseconds apart, held back to leave together
// with the next reply, or cut short, after which the connection closes and nothing more
// is queued. Segments leave in the order their replies were queued.
//
// The caps: reply bytes waiting, per connection and over every connection of a server
// (ReplyCaps, shared by the queues). Budget() says how many reply bytes a connection may
// add now; at zero its requests wait unread.
//
// Used on the server's one thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "hostsim/faults.h"

namespace torvan::hostsim {

using SteadyClock = std::chrono::steady_clock;

// The caps shared by the queues of one server. Each cap holds at least two of the longest
// reply (`longest_reply` bytes), and the total at least one connection's cap, so that a
// connection at its cap can always go on once its client reads.
class ReplyCaps {
 public:
  ReplyCaps(size_t longest_reply, size_t per_client, size_t total);

  // Reply bytes waiting over every queue, as each last counted them (ReplyQueue::Account).
  size_t total_unsent() const { return total_unsent_; }

 private:
  friend class ReplyQueue;
  size_t longest_;
  size_t per_client_;
  size_t total_;
  size_t total_unsent_ = 0;
};

class ReplyQueue {
 public:
  // `caps` outlives the queue; nullptr: no caps (Budget is unlimited, Account counts
  // nothing), as for a control connection.
  explicit ReplyQueue(ReplyCaps* caps = nullptr) : caps_(caps) {}
  ~ReplyQueue() { Release(); }
  ReplyQueue(const ReplyQueue&) = delete;
  ReplyQueue& operator=(const ReplyQueue&) = delete;

  // Bytes that go out at once, behind what is being sent (greetings, FTP and control
  // replies: never shaped).
  void Append(std::string_view bytes) { out_.append(bytes); }

  // Queues a reply of the host server program shaped as `shape` says, at `now`. A reply
  // held before goes in front of this one. Its corrupt_length is the caller's to apply.
  // After a cut (cut()) nothing more is queued.
  void Add(std::string reply, const Faults::Shape& shape, SteadyClock::time_point now);

  // A held reply whose time is up by `now` goes alone; true when there was one.
  bool ReleaseHeld(SteadyClock::time_point now);

  // The bytes of the segment being sent that have not left yet.
  std::string_view sending() const { return std::string_view(out_).substr(out_pos_); }
  // `n` bytes of sending() have left.
  void Sent(size_t n);
  // With sending() empty: the first queued segment, when it is due by `now`, becomes the
  // one being sent. False when none is due, or when the segment sent was the last before
  // a cut (ends()).
  bool Next(SteadyClock::time_point now);
  // The segment that ends in a cut has left whole: the connection closes now.
  bool ends() const { return close_after_out_ && out_pos_ == out_.size(); }

  bool cut() const { return cut_; }
  // Segments or a held reply wait for their time.
  bool timed() const { return !later_.empty() || has_held_; }
  // The earliest time a queued segment or the held reply is due; `none` when none waits.
  SteadyClock::time_point NextDue(SteadyClock::time_point none) const;
  // The queue itself holds bytes back past `now`: a wait that is not the client's.
  bool HoldsBack(SteadyClock::time_point now) const;
  // Bytes not sent yet, held ones included.
  size_t unsent() const { return out_.size() - out_pos_ + later_bytes_ + held_.size(); }

  // Reply bytes that may be added now without going over either cap (always at least one
  // reply's worth, or 0). Over the total, a connection with nothing waiting still gets 1:
  // those that read are not held up by those that do not.
  size_t Budget() const;
  // Counts unsent() in the total; true when it fills this connection's own cap.
  bool Account();
  // Counts nothing from now on (the connection is closing).
  void Release();

 private:
  struct Segment {
    std::string bytes;
    SteadyClock::time_point due;
    bool close_after = false;
  };

  ReplyCaps* caps_;
  std::string out_;  // the segment being sent
  size_t out_pos_ = 0;
  bool close_after_out_ = false;  // `out_` is the last segment before the cut
  std::deque<Segment> later_;     // shaped replies, in order
  size_t later_bytes_ = 0;
  bool has_held_ = false;  // a reply held to go out with the next one
  std::string held_;
  SteadyClock::time_point held_due_;
  bool cut_ = false;
  bool released_ = false;
  size_t counted_ = 0;  // unsent() as last added to the caps' total
};

}  // namespace torvan::hostsim
