#pragma once

#include <chrono>
#include <cstdint>
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

// A moment in local time with its offset from UTC, ISO 8601: 2026-12-08T14:04:06+01:00. The
// record, the log, the ledger and the trace all write their times so.
inline std::string isoTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &seconds);
#else
  localtime_r(&seconds, &local);
#endif
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  // strftime writes the offset as +0100; ISO 8601 with separators wants +01:00.
  const std::string_view iso(text);
  if (iso.size() < 5) return std::string(iso);
  return std::string(iso.substr(0, iso.size() - 2)) + ":" + std::string(iso.substr(iso.size() - 2));
}

}  // namespace tandra
