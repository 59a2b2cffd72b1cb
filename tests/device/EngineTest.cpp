#include <gtest/gtest.h>

#include "DeviceTypes.h"
#include "TestHost.h"
#include "device/ControlStates.h"
#include "device/DeviceSettings.h"
#include "device/Engine.h"
#include "device/FamilyRules.h"
#include "image/ImageBuffer.h"
#include "link/D2XXUnit.h"
#include "link/Discovery.h"
#include "link/Link.h"
#include "sim/VirtualProgrammer.h"

namespace tandra::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The engine with the parts it drives, wired as a session wires them, on the virtual
// programmer: its set-ups, block address step and failure step one at a time, where an
// operation would run them all.
class EngineTest : public ::testing::Test {
 protected:
  EngineTest() {
    host.onWatchdog = [this] { link.Timer1Timer(); };
    link.onCurrentAddressReset = [this] { image.currentAddress = image.deviceStartAddress; };
    discovery.run();
  }

  void TearDown() override { EXPECT_EQ(programmer.violations(), std::vector<std::string>{}); }

  // The type named in as many sockets, at a Vpp setting, with the setting sent.
  void chooseAt(std::string_view name, int sockets, int vpp) {
    const Chip& type = typeNamed(name);
    settings.deviceListRow = type.row();
    settings.deviceFamily = type.family;
    settings.pulseWidth = static_cast<std::uint8_t>(type.pulseCode);
    settings.socketCount = sockets;
    image.deviceEndAddress = type.endAddress();
    settings.vppSetting = vpp;
    engine.VppStep();
    programmer.clearPackets();
  }

  std::vector<std::uint8_t> packet() const {
    return programmer.packets().empty() ? Bytes{} : programmer.packets().back();
  }

  // Header bytes 0 to 6 of every packet sent since the last clear.
  std::vector<Bytes> sent() const {
    std::vector<Bytes> headers;
    for (const Bytes& p : programmer.packets()) headers.emplace_back(p.begin(), p.begin() + 7);
    return headers;
  }

  // The high-address byte and control byte the block address step places for `address`.
  std::pair<std::uint8_t, std::uint8_t> latchedAt(std::int32_t address) {
    image.currentAddress = address;
    engine.BlockAddressStep();
    return {link.highAddressByte, link.controlByte};
  }

  TestHost host;
  VirtualProgrammer programmer{host.clock};
  D2XXUnit usb{programmer, host.events};
  Link link{usb, host.events};
  Discovery discovery{usb, link, host.events};
  ImageBuffer image;
  DeviceSettings settings;
  Engine engine{host.events, link, image, settings};
  ControlStates states{host.events, link, image, settings, engine};
};

TEST_F(EngineTest, ReadSetUpOfA27C256At12Volts) {
  chooseAt("27C256", 1, 3);
  engine.ReadSetUp();
  const std::vector<Bytes> expected = {
      {0x90, 0xBF, 0xB0, 0x00, 0x00, 0x00, 0x00},  // the Vpp step; bytes 3-6 as left
      {0x94, 0x2F, 0xFF, 0x00, 0x00, 0x00, 0x00},
      {0x92, 0x00, 0xFF, 0xA0, 0xED, 0x3F, 0xBF},
  };
  const std::vector<Bytes> got = sent();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0][0], 0x90);
  EXPECT_EQ(got[0][1], 0xBF);
  EXPECT_EQ(Bytes(got[1].begin(), got[1].begin() + 3), (Bytes{0x94, 0x2F, 0xFF}));
  EXPECT_EQ(got[2], expected[2]);
  EXPECT_EQ(host.sleeps, std::vector<int>{10});
}

TEST_F(EngineTest, ProgramSetUpOfA2716At25Volts) {
  chooseAt("2716", 1, 1);
  engine.ProgramSetUp();
  const std::vector<Bytes> got = sent();
  ASSERT_EQ(got.size(), 3u);  // no Vpp step: Program runs it itself
  EXPECT_EQ(Bytes(got[0].begin(), got[0].begin() + 3), (Bytes{0x94, 0x2F, 0x05}));
  EXPECT_EQ(Bytes(got[1].begin(), got[1].begin() + 3), (Bytes{0x94, 0x2F, 0xFF}));
  EXPECT_EQ(got[2], (Bytes{0x92, 0x00, 0xFF, 0x08, 0x7D, 0x07, 0xBF}));
  EXPECT_EQ(programmer.packets()[2][7], 0xDC);  // checksum over the stored bytes
}

TEST_F(EngineTest, LargeDevicesSkipTheAllOnesLatchAndMaskThePower) {
  chooseAt("27C1001", 1, 3);
  engine.ReadSetUp();
  const std::vector<Bytes> got = sent();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1][0], 0x92);
  EXPECT_EQ(got[1][5], 0x3B);
}

TEST_F(EngineTest, ProgramSetUpPowerBytesByFamily) {
  const struct {
    const char* type;
    int vpp;
    std::uint8_t power, base;
  } cases[] = {{"2764", 2, 0x11, 0xFD},
               {"27C256", 3, 0xB7, 0xFD},
               {"27C1001", 3, 0xB2, 0xFD},
               {"2716", 1, 0x07, 0x7D}};
  for (const auto& c : cases) {
    chooseAt(c.type, 1, c.vpp);
    engine.ProgramSetUp();
    EXPECT_EQ(packet()[5], c.power) << c.type;
    EXPECT_EQ(packet()[4], c.base) << c.type;
  }
}

TEST_F(EngineTest, BlockAddressStepPlacesTheAddressByFamily) {
  const struct {
    const char* type;
    int vpp;
    std::int32_t address;
    std::uint8_t highAddressByte;
  } cases[] = {{"2716", 1, 0x0000, 0x08},
               {"27C64", 3, 0x1800, 0xF8},
               {"27C256", 3, 0x7800, 0xD8},
               {"27C512", 3, 0xF800, 0xD8}};
  for (const auto& c : cases) {
    chooseAt(c.type, 1, c.vpp);
    engine.ReadSetUp();
    EXPECT_EQ(latchedAt(c.address).first, c.highAddressByte) << c.type;
  }
  chooseAt("27C1001", 1, 3);
  engine.ReadSetUp();
  programmer.clearPackets();
  EXPECT_EQ(latchedAt(0x1F800), std::make_pair(std::uint8_t{0xD8}, std::uint8_t{0xED}));
  // Low, high and control latches, in that order, and the progress on the Quit button.
  const std::vector<Bytes> got = sent();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(Bytes(got[0].begin(), got[0].begin() + 3), (Bytes{0x94, 0x2F, 0x00}));
  EXPECT_EQ(Bytes(got[1].begin(), got[1].begin() + 3), (Bytes{0x94, 0x0F, 0xD8}));
  EXPECT_EQ(Bytes(got[2].begin(), got[2].begin() + 3), (Bytes{0x94, 0x3F, 0xED}));
  EXPECT_EQ(host.caption(Control::Quit_Func_But), "&Quit = 1F800");
}

TEST_F(EngineTest, FamiliesWithoutACatalogueRowFollowTheirRules) {
  engine.baseControlByte = 0xED;
  engine.familyAddressBits = 0x08;
  settings.deviceFamily = 10;
  EXPECT_EQ(latchedAt(0x0300).first, 0x0B);
  settings.deviceFamily = 11;
  EXPECT_EQ(latchedAt(0x4500).first, ((0x45 & 0x3F) ^ 0x20) | 0x40 | 0x80);
  settings.deviceFamily = 13;
  EXPECT_EQ(latchedAt(0x18000).second, 0xED | 0x04 | 0x01);
  settings.deviceFamily = 0;  // no rule: the last high byte stays
  EXPECT_EQ(latchedAt(0x7700).first, 0x60);
  EXPECT_EQ(familyRules(5).algorithmCode, 2);
  EXPECT_EQ(familyRules(12).algorithmFlag, 0x40);
  EXPECT_EQ(familyRules(7).algorithmCode, 0);
}

TEST_F(EngineTest, FailureStepMarksASocketOnceHoweverOftenItRuns) {
  chooseAt("27C256", 3, 3);
  engine.ReadSetUp();
  EXPECT_EQ(engine.activeSocketMask, 0x07);
  engine.resultMessage = "Didn't Verify";
  link.currentSocket = 2;
  engine.FailureStep();
  engine.FailureStep();
  EXPECT_EQ(host.caption(Control::Device_2), "2-Didn't Verify");
  EXPECT_EQ(host.captionHistory[Control::Device_2].back(), "2-Didn't Verify");
  EXPECT_EQ(engine.socketFailureFlags[1], 1);
  EXPECT_EQ(engine.activeSocketMask, 0x05);
  link.currentSocket = 1;
  engine.FailureStep();
  link.currentSocket = 3;
  engine.FailureStep();
  EXPECT_EQ(engine.activeSocketMask, 0x00);
}

TEST_F(EngineTest, SetUpResetsTheSocketsInPlay) {
  chooseAt("27C256", 3, 3);
  engine.socketFailureFlags = {1, 1, 1, 1, 1};
  engine.activeSocketMask = 0;
  engine.ProgramSetUp();
  EXPECT_EQ(engine.activeSocketMask, 0x07);
  EXPECT_EQ(engine.socketFailureFlags, (std::array<int, 5>{0, 0, 0, 1, 1}));
}

TEST_F(EngineTest, BusyStateSetsTheMaskFromTheCountAndClearsOnlyThoseSockets) {
  settings.socketCount = 3;
  engine.socketFailureFlags = {1, 1, 1, 1, 1};
  image.currentAddress = 0x1234;
  link.quitFlag = 5;
  states.BusyState();
  EXPECT_EQ(engine.activeSocketMask, 7);
  EXPECT_EQ(engine.socketFailureFlags, (std::array<int, 5>{0, 0, 0, 1, 1}));
  EXPECT_EQ(image.currentAddress, 0);
  EXPECT_EQ(link.quitFlag, 0);
  EXPECT_EQ(host.caption(Control::Quit_Func_But), "&Quit = 0000");

  settings.socketCount = 0;  // no count chosen: the mask stays as it was
  states.BusyState();
  EXPECT_EQ(engine.activeSocketMask, 7);
}

}  // namespace
}  // namespace tandra::test
