#pragma once

// What the virtual programmer's firmware knows of the wire and of its own limits, shared by the
// files that answer the packets and drive the sockets.
#include <cstdint>
#include <cstdio>
#include <string>

#include "sim/VirtualProgrammer.h"

namespace tandra::firmware {

// The wire format as the firmware reads it.
namespace op {
inline constexpr std::uint8_t ReadBlock = 0x20;
inline constexpr std::uint8_t Idle = 0x24;
inline constexpr std::uint8_t ProgramBlock = 0x43;
inline constexpr std::uint8_t Restart = 0x52;
inline constexpr std::uint8_t Identify = 0x56;
inline constexpr std::uint8_t Voltage = 0x90;
inline constexpr std::uint8_t SetUp = 0x92;
inline constexpr std::uint8_t Latch = 0x94;
inline constexpr std::uint8_t FlashCheck = 0xAA;
}  // namespace op

inline constexpr std::uint8_t kLowLatch = 0x2F;
inline constexpr std::uint8_t kHighLatch = 0x0F;
inline constexpr std::uint8_t kControlLatch = 0x3F;

inline constexpr std::size_t kHeader = sim::kReplyHeader;
// The data a reply carries unless a read block asked for another length.
inline constexpr std::size_t kDefaultReplyData = 2048;
inline constexpr std::size_t kPage = 256;
inline constexpr std::size_t kFirmwareRecordSize = 74;
inline constexpr std::size_t kLargestReplyData = 32768 - kHeader;
inline constexpr std::uint8_t kFailed = 0xFF;

inline std::uint8_t sumOfHeader(const std::uint8_t* bytes) {
  unsigned sum = 0;
  for (int i = 0; i < 7; ++i) sum += bytes[i];
  return static_cast<std::uint8_t>(sum);
}

inline std::string hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

inline bool isVoltage(std::uint8_t selectCode) {
  return selectCode == sim::vpp::V25 || selectCode == sim::vpp::V21 ||
         selectCode == sim::vpp::V12_5;
}

}  // namespace tandra::firmware
