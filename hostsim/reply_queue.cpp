#include "hostsim/reply_queue.h"

#include <algorithm>
#include <utility>

namespace torvan::hostsim {

namespace {

// Pause between the segments of a split reply, so each leaves as a segment of its own.
constexpr auto kSplitGap = std::chrono::milliseconds(2);

}  // namespace

ReplyCaps::ReplyCaps(size_t longest_reply, size_t per_client, size_t total)
    : longest_(longest_reply),
      per_client_(std::max(per_client, 2 * longest_reply)),
      total_(std::max(total, per_client_)) {}

void ReplyQueue::Add(std::string reply, const Faults::Shape& shape, SteadyClock::time_point now) {
  if (cut_) return;
  if (has_held_) {
    reply = std::move(held_) + reply;
    held_.clear();
    has_held_ = false;
  }
  if (shape.pair_hold_ms >= 0) {
    held_ = std::move(reply);
    has_held_ = true;
    held_due_ = now + std::chrono::milliseconds(shape.pair_hold_ms);
    return;
  }
  const bool cut = shape.close_after >= 0;
  if (cut) {
    reply.resize(std::min(reply.size(), size_t(shape.close_after)));
    cut_ = true;
  }
  if (!cut && shape.split == 0 && shape.delay_ms == 0 && later_.empty()) {
    if (out_.empty()) {
      out_ = std::move(reply);
    } else {
      out_ += reply;
    }
    return;
  }
  auto due = now + std::chrono::milliseconds(shape.delay_ms);
  if (!later_.empty()) due = std::max(due, later_.back().due);
  const size_t piece = shape.split > 0 ? size_t(shape.split) : std::max<size_t>(reply.size(), 1);
  size_t pos = 0;
  do {
    Segment s;
    s.bytes = reply.substr(pos, piece);
    s.due = due;
    pos += piece;
    s.close_after = cut && pos >= reply.size();
    later_bytes_ += s.bytes.size();
    later_.push_back(std::move(s));
    due += kSplitGap;
  } while (pos < reply.size());
}

bool ReplyQueue::ReleaseHeld(SteadyClock::time_point now) {
  if (!has_held_ || held_due_ > now) return false;
  // No further reply came to pair it with: it goes alone.
  has_held_ = false;
  std::string reply = std::move(held_);
  held_.clear();
  Add(std::move(reply), Faults::Shape{}, now);
  return true;
}

void ReplyQueue::Sent(size_t n) {
  out_pos_ += n;
  if (out_pos_ < out_.size() || close_after_out_) return;
  out_.clear();
  out_pos_ = 0;
}

bool ReplyQueue::Next(SteadyClock::time_point now) {
  if (ends() || later_.empty() || later_.front().due > now) return false;
  out_ = std::move(later_.front().bytes);
  out_pos_ = 0;
  later_bytes_ -= out_.size();
  close_after_out_ = later_.front().close_after;
  later_.pop_front();
  return true;
}

SteadyClock::time_point ReplyQueue::NextDue(SteadyClock::time_point none) const {
  SteadyClock::time_point next = none;
  if (!later_.empty()) next = std::min(next, later_.front().due);
  if (has_held_) next = std::min(next, held_due_);
  return next;
}

bool ReplyQueue::HoldsBack(SteadyClock::time_point now) const {
  return (!later_.empty() && later_.front().due > now) || (has_held_ && held_due_ > now);
}

size_t ReplyQueue::Budget() const {
  if (caps_ == nullptr) return SIZE_MAX;
  const size_t own = unsent();
  const size_t longest = caps_->longest_;
  if (own + longest >= caps_->per_client_) return 0;
  const size_t budget = caps_->per_client_ - longest - own;
  const size_t total = caps_->total_unsent_ - counted_ + own;
  if (total + longest < caps_->total_) return std::min(budget, caps_->total_ - longest - total);
  return own == 0 ? 1 : 0;
}

bool ReplyQueue::Account() {
  if (caps_ == nullptr || released_) return false;
  const size_t now_unsent = unsent();
  caps_->total_unsent_ = caps_->total_unsent_ - counted_ + now_unsent;
  counted_ = now_unsent;
  return now_unsent + caps_->longest_ >= caps_->per_client_;
}

void ReplyQueue::Release() {
  if (caps_ != nullptr && !released_) caps_->total_unsent_ -= counted_;
  counted_ = 0;
  released_ = true;
}

}  // namespace torvan::hostsim
