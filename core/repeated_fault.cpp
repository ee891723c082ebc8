#include "core/repeated_fault.h"

#include <chrono>

namespace torvan {

namespace {

constexpr std::string_view kJoin = "; ";

}  // namespace

bool RepeatedFault::Failed(std::string_view kind, std::string_view activity) {
  if (run_ && run_->kind == kind) {
    ++run_->tries;
    return false;
  }
  Forget();
  run_ = Run{std::string(kind), std::string(activity), program_.clock->Monotonic(), 1};
  if (!activity.empty()) AddActivity(program_.state, activity);
  return true;
}

bool RepeatedFault::Ended(std::string_view line) {
  if (!run_) return false;
  const double seconds =
      std::chrono::duration<double>(program_.clock->Monotonic() - run_->since).count();
  const int tries = run_->tries;
  Forget();
  program_.Scrivi_Messaggio(std::string(line) + " dopo " + DurationText(seconds) + ", " +
                            std::to_string(tries) + (tries == 1 ? " tentativo" : " tentativi"));
  return true;
}

void RepeatedFault::Forget() {
  if (run_ && !run_->activity.empty()) RemoveActivity(program_.state, run_->activity);
  run_.reset();
}

void AddActivity(RunState& state, std::string_view text) {
  if (text.empty()) return;
  if (!state.Attivita.empty()) state.Attivita += kJoin;
  state.Attivita += text;
}

void RemoveActivity(RunState& state, std::string_view text) {
  std::string& a = state.Attivita;
  for (size_t at = a.find(text); at != std::string::npos; at = a.find(text, at + 1)) {
    const bool starts = at == 0 || a.compare(at - kJoin.size(), kJoin.size(), kJoin) == 0;
    const size_t end = at + text.size();
    const bool ends = end == a.size() || a.compare(end, kJoin.size(), kJoin) == 0;
    if (!starts || !ends) continue;
    if (end < a.size()) {
      a.erase(at, text.size() + kJoin.size());
    } else {
      a.erase(at == 0 ? 0 : at - kJoin.size());
    }
    return;
  }
}

std::string DurationText(double seconds) {
  const int64_t s = seconds < 0 ? 0 : int64_t(seconds + 0.5);
  if (s < 60) return std::to_string(s) + " s";
  if (s < 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
  return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
}

}  // namespace torvan
