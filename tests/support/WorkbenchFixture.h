#pragma once

#include <gtest/gtest.h>

#include "DeviceTypes.h"
#include "TestHost.h"
#include "controller/Workbench.h"
#include "sim/VirtualProgrammer.h"

namespace tandra::test {

// The whole core on the virtual programmer, as the window wires it, with a test host.
class WorkbenchFixture : public ::testing::Test {
 protected:
  WorkbenchFixture() {
    host.onWatchdog = [this] { bench.Timer1Timer(); };
  }

  // Whatever a test did, the programmer must have been driven as the hardware needs.
  void TearDown() override {
    if (expectCleanProtocol) {
      EXPECT_EQ(programmer.violations(), std::vector<std::string>{});
    }
  }

  // Creation and the start-up search, as when the window first shows.
  void startUp() {
    bench.FormCreate();
    bench.FormActivate();
  }

  // Picks the type named ("27C256") and the number of sockets, as the operator does: the
  // Device button, the type's row of the list, then the count list.
  void choose(std::string_view type, int sockets) {
    bench.selection.DeviceClick();
    bench.selection.Device_BoxClick(rowOf(type));
    bench.selection.Num_Of_DevicesClick(sockets);
  }

  std::vector<std::uint8_t> packet(std::size_t fromEnd = 0) const {
    const auto& all = programmer.packets();
    return all.size() > fromEnd ? all[all.size() - 1 - fromEnd] : std::vector<std::uint8_t>{};
  }

  TestHost host;
  VirtualProgrammer programmer{host.clock};
  bool expectCleanProtocol = true;
  Workbench bench{programmer, host};
};

}  // namespace tandra::test
