#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tandra {

// The sockets of the gang adapter; bit s-1 of a socket mask stands for socket s.
inline constexpr int kSockets = 5;

// Opcodes of the programmer's command packets. Commands below 0x80 are answered with a reply.
namespace opcode {
inline constexpr std::uint8_t ReadBlock = 0x20;
inline constexpr std::uint8_t Idle = 0x24;
inline constexpr std::uint8_t ProgramBlock = 0x43;
inline constexpr std::uint8_t Restart = 0x52;
inline constexpr std::uint8_t Identify = 0x56;
inline constexpr std::uint8_t Voltage = 0x90;
inline constexpr std::uint8_t SetUp = 0x92;
inline constexpr std::uint8_t Latch = 0x94;
inline constexpr std::uint8_t FlashCheck = 0xAA;
}  // namespace opcode

inline constexpr bool isAnswered(std::uint8_t op) {
  return op < 0x80;
}

// How a builder treats header bytes 1 to 6: a fixed value, a parameter it stores, or a byte
// it does not touch, so the packet carries whatever the previous command left there.
inline constexpr int kParam = -1;
inline constexpr int kAsLeft = -2;

struct CommandLayout {
  std::uint8_t opcode;
  std::string_view name;
  std::array<int, 6> bytes;  // header bytes 1 to 6
};

// The command table: every command the host builds, with its fixed bytes.
inline constexpr std::array<CommandLayout, 9> kCommandTable{{
    {opcode::ReadBlock, "read block", {0x00, kParam, kParam, kParam, kParam, kParam}},
    {opcode::Idle, "idle", {kAsLeft, kAsLeft, kAsLeft, kAsLeft, kAsLeft, kAsLeft}},
    {opcode::ProgramBlock, "program block", {kParam, kParam, kParam, kParam, kParam, kParam}},
    {opcode::Restart, "restart", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {opcode::Identify, "identify", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
    {opcode::Voltage, "voltage", {kParam, kParam, kAsLeft, kAsLeft, kAsLeft, kAsLeft}},
    {opcode::SetUp, "set-up", {0x00, 0xFF, kParam, kParam, kParam, 0xBF}},
    {opcode::Latch, "latch", {kParam, kParam, kAsLeft, kAsLeft, kAsLeft, kAsLeft}},
    {opcode::FlashCheck, "flash check", {0x43, 0x00, 0x00, 0x00, 0x00, 0x00}},
}};

constexpr const CommandLayout& commandLayout(std::uint8_t op) {
  for (const CommandLayout& layout : kCommandTable) {
    if (layout.opcode == op) return layout;
  }
  return kCommandTable[1];  // unreachable for the opcodes above; idle touches nothing
}

// Latch selectors of the latch command (byte 1).
namespace latch {
inline constexpr std::uint8_t LowAddress = 0x2F;
inline constexpr std::uint8_t HighAddress = 0x0F;
inline constexpr std::uint8_t Control = 0x3F;
}  // namespace latch

// Socket selection: the select code and whether bit 7 of the control byte is set. Socket 3 is
// picked by a cleared bit 7 instead of a select-code bit.
struct SocketSelect {
  std::uint8_t code;
  bool controlBit7;
};

constexpr SocketSelect socketSelect(int socket) {
  switch (socket) {
    case 2:
      return {0xBD, true};
    case 3:
      return {0xBF, false};
    case 4:
      return {0xBB, true};
    case 5:
      return {0xB7, true};
    default:
      return {0xBE, true};
  }
}

// Sum of header bytes 0 to 6, modulo 256: byte 7 of every packet.
constexpr std::uint8_t headerChecksum(const std::uint8_t* header) {
  unsigned sum = 0;
  for (int i = 0; i < 7; ++i) sum += header[i];
  return static_cast<std::uint8_t>(sum & 0xFF);
}

}  // namespace tandra
