#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

namespace tandra {

// How long something took or has left, in one form everywhere the programs say it: "0.3 s" and
// "59.9 s" to the tenth under a minute, "2 min 05 s" from a minute on.
inline std::string durationText(std::int64_t ms) {
  if (ms < 0) ms = 0;
  if (ms < 60000) {
    return std::to_string(ms / 1000) + "." + std::to_string(ms / 100 % 10) + " s";
  }
  const std::int64_t seconds = ms / 1000;
  const std::int64_t rest = seconds % 60;
  return std::to_string(seconds / 60) + " min " + (rest < 10 ? "0" : "") + std::to_string(rest) +
         " s";
}

// Seconds since 1970 of a broken-down time read as if it were UTC.
inline std::int64_t secondsAsUtc(const std::tm& time) {
  using namespace std::chrono;
  const sys_days date = year{time.tm_year + 1900} / month{static_cast<unsigned>(time.tm_mon + 1)} /
                        day{static_cast<unsigned>(time.tm_mday)};
  return date.time_since_epoch().count() * std::int64_t{86400} + time.tm_hour * 3600 +
         time.tm_min * 60 + time.tm_sec;
}

// A moment in local time with its offset from UTC, ISO 8601: 2026-12-08T14:04:06+01:00. The
// record, the log, the ledger and the trace all write their times so. The offset is the local
// time's distance from UTC at that moment, summer time included; strftime's %z is no help, as
// Windows' C library writes the zone's name for it ("W. Europe Standard Time").
inline std::string isoTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  std::tm utc{};
#if defined(_WIN32)
  localtime_s(&local, &seconds);
  gmtime_s(&utc, &seconds);
#else
  localtime_r(&seconds, &local);
  gmtime_r(&seconds, &utc);
#endif
  const std::int64_t offsetMinutes = (secondsAsUtc(local) - secondsAsUtc(utc)) / 60;
  const std::int64_t away = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  char text[128];  // room for any int the fields can hold
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                offsetMinutes < 0 ? '-' : '+', static_cast<int>(away / 60),
                static_cast<int>(away % 60));
  return text;
}

}  // namespace tandra
