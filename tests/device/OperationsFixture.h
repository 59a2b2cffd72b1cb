#pragma once

#include <random>
#include <string>
#include <vector>

#include "BlockCommands.h"
#include "WorkbenchFixture.h"

namespace tandra::test {

// The core after its start-up search, with the helpers the operation tests share.
class OperationsFixture : public WorkbenchFixture {
 protected:
  using Bytes = std::vector<std::uint8_t>;

  OperationsFixture() { startUp(); }

  void fillRandom(unsigned seed) {
    std::mt19937 random(seed);
    for (std::int32_t a = 0; a < ImageBuffer::kSize; ++a) {
      bench.session.image()[a] = static_cast<std::uint8_t>(random());
    }
  }

  bool chipHoldsTheBuffer(int socket) {
    const Eprom& chip = programmer.chip(socket);
    for (std::int32_t a = 0; a <= bench.session.image().deviceEndAddress; ++a) {
      if (chip.read(static_cast<std::uint32_t>(a)) != bench.session.image()[a]) return false;
    }
    return true;
  }

  std::string label(int socket) const { return host.caption(socketLabel(socket)); }
  std::string status() const { return host.caption(Control::StaticText3); }

  // Read block commands sent to one socket since the packets were last cleared.
  int readsOf(std::uint8_t selectCode) const {
    return blocksTo(programmer.packets(), Blocks::Reads, selectCode);
  }
  int programsOf(std::uint8_t selectCode) const {
    return blocksTo(programmer.packets(), Blocks::Programs, selectCode);
  }
};

}  // namespace tandra::test
