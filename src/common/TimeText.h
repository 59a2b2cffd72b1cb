#pragma once

#include <cstdint>
#include <string>

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

}  // namespace tandra
