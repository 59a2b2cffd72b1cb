#pragma once

#include <chrono>
#include <cstdint>
#include <random>
#include <string>

namespace tandra {

// One run of a program: the name its trace, its record and its log lines share, so that a line
// of a production log leads to the trace of the run that wrote it. Sixteen hex digits, the
// first eight from the start time, the rest random, so that two runs started in the same second
// on two computers still differ.
inline std::string newRunId() {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
  std::random_device device;
  const std::uint32_t random = device();
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string id(16, '0');
  const std::uint64_t value = (static_cast<std::uint64_t>(seconds) << 32) | random;
  for (int i = 15; i >= 0; --i)
    id[static_cast<std::size_t>(i)] = kDigits[(value >> ((15 - i) * 4)) & 0xF];
  return id;
}

// The id of this process's run, made once.
inline const std::string& runId() {
  static const std::string id = newRunId();
  return id;
}

}  // namespace tandra
