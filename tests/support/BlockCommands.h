#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "link/Commands.h"

namespace tandra::test {

// Which block commands to count: read block (0x20), program block (0x43) or both.
enum class Blocks { Reads, Programs, Both };

// Block commands among `packets` (as the programmer received them) with this socket select
// code and, where given, this bit 7 of the control byte: the two together pick socket 3.
inline int blocksTo(const std::vector<std::vector<std::uint8_t>>& packets, Blocks kind,
                    std::uint8_t selectCode, std::optional<bool> controlBit7 = std::nullopt) {
  int count = 0;
  for (const std::vector<std::uint8_t>& p : packets) {
    const bool read = p[0] == 0x20;
    const bool program = p[0] == 0x43;
    if (!(read && kind != Blocks::Programs) && !(program && kind != Blocks::Reads)) continue;
    const std::uint8_t code = read ? p[4] : p[6];
    const std::uint8_t control = read ? p[3] : p[5];
    count += code == selectCode && (!controlBit7 || ((control & 0x80) != 0) == *controlBit7);
  }
  return count;
}

// Every block command that went to one socket.
inline int blocksToSocket(const std::vector<std::vector<std::uint8_t>>& packets, int socket) {
  const SocketSelect select = socketSelect(socket);
  return blocksTo(packets, Blocks::Both, select.code, select.controlBit7);
}

}  // namespace tandra::test
