#pragma once

#include <cstdint>
#include <string>

namespace tandra {

// "0:07", "12:34": the minutes and seconds an operation has taken or has left.
inline std::string minutesAndSeconds(std::int64_t ms) {
  const std::int64_t seconds = ms / 1000;
  const std::int64_t rest = seconds % 60;
  return std::to_string(seconds / 60) + (rest < 10 ? ":0" : ":") + std::to_string(rest);
}

}  // namespace tandra
