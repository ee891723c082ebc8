#include <sys/time.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/clock.h"

namespace torvan::platform {

namespace chr = std::chrono;

LocalTime ToLocalTime(const LocalDateTime& t) {
  chr::local_days day{chr::year(t.year) / chr::month(t.month) / chr::day(t.day)};
  return LocalTime(day.time_since_epoch()) + chr::hours(t.hour) + chr::minutes(t.minute) +
         chr::seconds(t.second) + chr::milliseconds(t.millisecond);
}

LocalDateTime ToFields(LocalTime t) {
  auto day = chr::floor<chr::days>(t);
  chr::year_month_day ymd{chr::local_days(day.time_since_epoch())};
  chr::hh_mm_ss hms{t - day};
  LocalDateTime f;
  f.year = int(ymd.year());
  f.month = int(unsigned(ymd.month()));
  f.day = int(unsigned(ymd.day()));
  f.hour = int(hms.hours().count());
  f.minute = int(hms.minutes().count());
  f.second = int(hms.seconds().count());
  f.millisecond = int(hms.subseconds().count());
  return f;
}

chr::milliseconds Days(double days) { return chr::milliseconds(std::llround(days * 86400000.0)); }

std::string FormatYmdHns(const LocalDateTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", t.year % 10000, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

std::string DateTimeText(const LocalDateTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", t.day, t.month, t.year, t.hour,
                t.minute, t.second);
  return buf;
}

double SecondsSinceMidnight(const LocalDateTime& t) {
  return t.hour * 3600.0 + t.minute * 60.0 + t.second + t.millisecond / 1000.0;
}

namespace {

class PosixClock final : public Clock {
 public:
  LocalDateTime Now() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    LocalDateTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec;
    t.millisecond = int(ts.tv_nsec / 1000000);
    return t;
  }

  MonotonicTime Monotonic() override {
    return chr::time_point_cast<chr::milliseconds>(chr::steady_clock::now());
  }

  Status SetLocal(const LocalDateTime& t) override {
    tm local{};
    local.tm_year = t.year - 1900;
    local.tm_mon = t.month - 1;
    local.tm_mday = t.day;
    local.tm_hour = t.hour;
    local.tm_min = t.minute;
    local.tm_sec = t.second;
    local.tm_isdst = -1;
    time_t secs = mktime(&local);
    if (secs == time_t(-1)) return Status::InvalidArgument("set clock: not a valid local time");
    timeval tv{secs, suseconds_t(t.millisecond) * 1000};
    if (settimeofday(&tv, nullptr) != 0) return PosixError("set clock", errno);
    return Status::Ok();
  }
};

}  // namespace

Clock* SystemClock() {
  static PosixClock clock;
  return &clock;
}

}  // namespace torvan::platform
