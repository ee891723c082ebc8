#include "hostsim/faults.h"

#include <charconv>

#include "hostlink/frame.h"

namespace torvan::hostsim {

namespace {

bool Count(const std::string& text, int64_t max, int64_t* n) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *n);
  return ec == std::errc() && end == text.data() + text.size() && *n >= 0 && *n <= max;
}

Status Usage(const std::string& what) { return Status::InvalidArgument("fault " + what); }

}  // namespace

Status Faults::Command(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("needs a fault name (torvan-host --help lists them)");
  const std::string& name = args[0];
  int64_t n = 0;
  auto one_number = [&](int64_t max) { return args.size() == 2 && Count(args[1], max, &n); };
  if (name == "close-after") {
    if (!one_number(1 << 20)) return Usage("close-after N: N bytes, 0 or more");
    close_after_ = int(n);
  } else if (name == "delay") {
    if (!one_number(600000)) return Usage("delay MS: milliseconds from 0 to 600000");
    delay_ms_ = int(n);
  } else if (name == "split") {
    if (!one_number(1 << 20)) return Usage("split N: segment size in bytes, 0 = off");
    split_ = int(n);
  } else if (name == "pair") {
    n = kPairHoldMs;
    if (args.size() > 2 || (args.size() == 2 && !Count(args[1], 600000, &n))) {
      return Usage("pair [MS]: hold at most MS milliseconds, 0 to 600000");
    }
    pair_hold_ms_ = int(n);
  } else if (name == "corrupt-length") {
    if (args.size() != 1) return Usage(name + " takes no argument");
    corrupt_length_ = true;
  } else if (name == "refuse") {
    if (args.size() != 3 || args[1].size() != 1 || !hostlink::IsRequestCode(args[1][0]) ||
        !Count(args[2], INT64_MAX, &n)) {
      return Usage("refuse CODE N: CODE one of P T S I 3 1 2 R, N 0 or more");
    }
    refuse_[args[1][0]] = n;
  } else if (name == "refuse-statements") {
    // A status is any character but a blank: what a host sends for a statement it did not
    // execute is its own choice.
    if ((args.size() != 2 && args.size() != 3) || !Count(args[1], INT64_MAX, &n) ||
        (args.size() == 3 && (args[2].size() != 1 || args[2][0] == ' '))) {
      return Usage("refuse-statements N [STATUS]: N 0 or more, STATUS one character, not blank");
    }
    refuse_statements_ = n;
    refusal_status_ = args.size() == 3 ? args[2][0] : '\0';
  } else if (name == "refuse-login") {
    if (!one_number(INT64_MAX)) return Usage(name + " N: N 0 or more");
    refuse_login_ = n;
  } else if (name == "clear") {
    if (args.size() != 1) return Usage("clear takes no argument");
    auto applied = applied_;
    *this = Faults();
    applied_ = applied;
  } else {
    return Usage("\"" + name + "\" is not a fault (torvan-host --help lists them)");
  }
  return Status::Ok();
}

std::string Faults::Report() const {
  auto line = [&](const std::string& name, const std::string& setting) {
    auto it = applied_.find(name);
    return name + "\t" + setting + "\tapplied " +
           std::to_string(it == applied_.end() ? 0 : it->second) + "\n";
  };
  std::string r;
  r += line("close-after", close_after_ < 0 ? "off" : std::to_string(close_after_));
  r += line("delay", std::to_string(delay_ms_));
  r += line("split", std::to_string(split_));
  r += line("pair", pair_hold_ms_ < 0 ? "off" : "hold " + std::to_string(pair_hold_ms_));
  r += line("corrupt-length", corrupt_length_ ? "on" : "off");
  for (char code : hostlink::kRequestCodes) {
    auto it = refuse_.find(code);
    r += line(std::string("refuse ") + code, std::to_string(it == refuse_.end() ? 0 : it->second));
  }
  r += line("refuse-statements",
            std::to_string(refuse_statements_) +
                (refusal_status_ != '\0' ? std::string(" status ") + refusal_status_ : ""));
  r += line("refuse-login", std::to_string(refuse_login_));
  return r;
}

bool Faults::TakeRefusal(char code) {
  auto it = refuse_.find(code);
  if (it == refuse_.end() || it->second == 0) return false;
  --it->second;
  ++applied_[std::string("refuse ") + code];
  return true;
}

bool Faults::TakeStatementRefusal(char* status) {
  if (refuse_statements_ == 0) return false;
  --refuse_statements_;
  *status = refusal_status_;
  ++applied_["refuse-statements"];
  return true;
}

bool Faults::TakeLoginRefusal() {
  if (refuse_login_ == 0) return false;
  --refuse_login_;
  ++applied_["refuse-login"];
  return true;
}

Faults::Shape Faults::TakeReplyShape() {
  Shape s;
  if (close_after_ >= 0) {
    s.close_after = close_after_;
    close_after_ = -1;
    ++applied_["close-after"];
  }
  if (delay_ms_ > 0) {
    s.delay_ms = delay_ms_;
    ++applied_["delay"];
  }
  if (split_ > 0) {
    s.split = split_;
    ++applied_["split"];
  }
  if (pair_hold_ms_ >= 0) {
    s.pair_hold_ms = pair_hold_ms_;
    pair_hold_ms_ = -1;
    ++applied_["pair"];
  }
  if (corrupt_length_) {
    s.corrupt_length = true;
    corrupt_length_ = false;
    ++applied_["corrupt-length"];
  }
  return s;
}

}  // namespace torvan::hostsim
