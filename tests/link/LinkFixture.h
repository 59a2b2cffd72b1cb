#pragma once

#include <gtest/gtest.h>

#include "TestHost.h"
#include "link/D2XXUnit.h"
#include "link/Link.h"
#include "sim/VirtualProgrammer.h"

namespace tandra::test {

// The link on the virtual programmer, opened and identified, with a test host.
class LinkFixture : public ::testing::Test {
 protected:
  LinkFixture() {
    host.onWatchdog = [this] { link.Timer1Timer(); };
    usb.setErrorReporting(false);
  }

  void openIdentified() {
    ASSERT_EQ(usb.Open_USB_Device_By_Serial_Number(""), ft::Ok);
    ASSERT_EQ(usb.SetFTTimeouts(500, 0), ft::Ok);
    link.connectionState = kIdentified;
  }

  const std::vector<std::uint8_t>& lastPacket() const { return programmer.packets().back(); }

  TestHost host;
  VirtualProgrammer programmer{host.clock};
  D2XXUnit usb{programmer, host.events};
  Link link{usb, host.events};
};

}  // namespace tandra::test
