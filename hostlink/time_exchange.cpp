#include "hostlink/time_exchange.h"

#include <cstdio>

#include "core/text.h"
#include "hostlink/exchange.h"

namespace torvan::hostlink {

namespace {

bool AllDigits(std::string_view s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return !s.empty();
}

// The host clock "yyyymmddhhnnssmmm" as a date and time, or false when it is not one.
bool ParseHostClock(std::string_view t, platform::LocalDateTime* out) {
  if (t.size() != size_t(time_reply::kHostClock.len) || !AllDigits(t)) return false;
  auto num = [&](size_t pos, size_t len) { return NumericValue(t.substr(pos, len)); };
  platform::LocalDateTime c{num(0, 4),  num(4, 2),  num(6, 2), num(8, 2),
                            num(10, 2), num(12, 2), num(14, 3)};
  if (c.month < 1 || c.month > 12 || c.day < 1 || c.hour > 23 || c.minute > 59 || c.second > 59) {
    return false;
  }
  // A day the month does not have (31/02) comes back changed from the round trip.
  if (!(platform::ToFields(platform::ToLocalTime(c)) == c)) return false;
  *out = c;
  return true;
}

std::string Stamp(platform::LocalTime t) { return platform::FormatYmdHns(platform::ToFields(t)); }

// A field of the reply's data part as text.
FieldText Text(const SocketLayer& socket, FieldPos f) {
  return socket.Field_Decode('A', f.pos, f.len, 0, 0);
}

}  // namespace

std::string HostTimeDisplay(std::string_view t) {
  auto mid = [&](size_t pos, size_t len) { return std::string(Mid(t, pos, len)); };
  return mid(7, 2) + "/" + mid(5, 2) + "/" + mid(3, 2) + "  " + mid(9, 2) + ":" + mid(11, 2);
}

bool TimeExchange(Program& program, SocketLayer& socket, std::string_view routine) {
  platform::LocalDateTime now = program.Now();
  // yyyymmddhhnnss, the milliseconds, "000".
  static_assert(kTimeRequestLength == 14 + 3 + 3);
  char data[32];
  std::snprintf(data, sizeof data, "%04d%02d%02d%02d%02d%02d%03d000", now.year % 10000, now.month,
                now.day, now.hour, now.minute, now.second, now.millisecond);
  const int32_t restart = program.settings.parametri.Attesa_Restart;
  const char code = restart == 0 ? kRequestTime : kRequestRestartWait;
  ExchangeReply reply = Exchange(socket, program, routine, code, data, program.stats.Ritardo_Link);
  if (!reply.served()) return false;

  RunState& state = program.state;
  std::array<std::string, 9>& texts = program.stats.Stat_Testi;
  if (code == kRequestTime) {
    FieldText stop = Text(socket, time_reply::kStopTime);
    FieldText again = Text(socket, time_reply::kRestartTime);
    if (stop.ok() && again.ok()) {
      state.HostStopTime = stop.text;
      state.HostRestartTime = again.text;
      texts[kHostStopText] = HostTimeDisplay(state.HostStopTime);
      texts[kHostRestartText] = HostTimeDisplay(state.HostRestartTime);
    }
  } else {
    platform::LocalTime t = platform::ToLocalTime(now);
    FieldText flag = Text(socket, time_reply::kStoppingFlag);
    if (flag.ok() && flag.text == "S") {
      state.HostStopTime = Stamp(t);
      state.HostRestartTime = Stamp(t + std::chrono::minutes(restart));
      texts[kHostStopText] = "Stop";
      texts[kHostRestartText] = HostTimeDisplay(state.HostRestartTime);
    } else {
      state.HostStopTime = Stamp(t + std::chrono::days(1));
      state.HostRestartTime = Stamp(t + std::chrono::days(1) + std::chrono::minutes(restart));
      texts[kHostStopText] = "Attivo";
      texts[kHostRestartText] = "";
    }
  }

  if (program.settings.ClockMode == "2") {
    FieldText clock = Text(socket, time_reply::kHostClock);
    platform::LocalDateTime host;
    if (clock.ok() && ParseHostClock(clock.text, &host)) {
      (void)program.clock->SetLocal(host);  // lack of privilege is ignored
    }
  }
  return true;
}

}  // namespace torvan::hostlink
