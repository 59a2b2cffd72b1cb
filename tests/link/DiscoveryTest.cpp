#include "link/ForwardingApi.h"
#include "LinkFixture.h"
#include "link/Discovery.h"

namespace tandra::test {
namespace {

class DiscoveryTest : public LinkFixture {
 protected:
  DiscoveryTest() {
    discovery.runVppStep = [this] { ++vppSteps; };
    discovery.runFirmwareUpdate = [this] { ++updates; };
  }

  Discovery discovery{usb, link, host.events};
  int vppSteps = 0;
  int updates = 0;
};

TEST_F(DiscoveryTest, NoneOrTwoDevicesShowTheNotFoundBoxAndLeaveTheStateAlone) {
  for (int count : {0, 2}) {
    programmer.setDeviceCount(count);
    link.connectionState = kIdentified;
    host.boxes.clear();
    discovery.run();
    ASSERT_EQ(host.boxes.size(), 1u) << count;
    EXPECT_EQ(host.boxes[0].text, "The Vasko Programmer Could Not Be Found....");
    EXPECT_EQ(host.boxes[0].kind, BoxKind::Information);
    ASSERT_TRUE(host.boxes[0].topLeft.has_value());
    EXPECT_EQ(host.boxes[0].topLeft->left, 375);
    EXPECT_EQ(host.boxes[0].topLeft->top, 325);
    EXPECT_EQ(link.connectionState, kIdentified);
    EXPECT_TRUE(programmer.packets().empty());
    EXPECT_FALSE(programmer.isOpen());
    EXPECT_FALSE(host.isVisible(Control::Memo1));
  }
}

TEST_F(DiscoveryTest, IdentifyReplyGivesVersionTextNumberAndTheQuestionBelow120) {
  const struct {
    int major, minor;
    const char* text;
    int number;
    bool asks;
  } cases[] = {
      {1, 5, "1.05", 261, true},  {1, 19, "1.19", 275, true},    {1, 20, "1.20", 276, false},
      {2, 0, "2.00", 512, false}, {1, 100, "1.100", 356, false},
  };
  for (const auto& c : cases) {
    programmer.setFirmwareVersion(c.major, c.minor);
    host.boxes.clear();
    discovery.run();
    EXPECT_EQ(link.connectionState, kIdentified);
    EXPECT_EQ(discovery.firmwareVersionText(), c.text);
    EXPECT_EQ(discovery.firmwareVersionNumber(), c.number);
    EXPECT_EQ(host.caption(Control::StaticText3),
              std::string("Usb Programmer Found - FirmWare Version ") + c.text);
    EXPECT_EQ(host.boxes.size(), c.asks ? 1u : 0u) << c.text;
    if (c.asks) {
      EXPECT_TRUE(host.boxes[0].question);
      EXPECT_EQ(host.boxes[0].text,
                "This Software Requires Firmware Version - 1.20\r\nDo You Want to Flash Update "
                "the Programmer ?");
    }
  }
  EXPECT_EQ(vppSteps, 5);
  EXPECT_EQ(updates, 0);  // every question was answered No
}

TEST_F(DiscoveryTest, IdentifyIsOneChecksummedPacketAndTimeoutsAreSet) {
  discovery.run();
  ASSERT_EQ(programmer.packets().size(), 1u);
  EXPECT_EQ(programmer.packets()[0], (std::vector<std::uint8_t>{0x56, 0, 0, 0, 0, 0, 0, 0x56}));
  EXPECT_EQ(programmer.readTimeoutMs(), 500u);
  EXPECT_EQ(usb.deviceString(), "Tandra USB Programmer");  // serial, then description
}

TEST_F(DiscoveryTest, AnsweringYesRunsTheFirmwareUpdate) {
  programmer.setFirmwareVersion(1, 10);
  host.yesNoAnswers = {true};
  discovery.run();
  EXPECT_EQ(updates, 1);
}

TEST_F(DiscoveryTest, TheStatusLineSaysAClickSearchesAgainWhileNoProgrammerIsFound) {
  programmer.setDeviceCount(0);
  discovery.run();
  EXPECT_EQ(host.hints[Control::StaticText3], "Click to look for the programmer again");
  programmer.setDeviceCount(1);
  discovery.run();
  EXPECT_EQ(host.hints[Control::StaticText3], "");
}

TEST_F(DiscoveryTest, BadIdentifyStatusLeavesStateOneAndShowsNotFound) {
  programmer.setIdentifyStatus(0xFF);
  discovery.run();
  EXPECT_EQ(link.connectionState, kOpened);
  EXPECT_EQ(host.boxTexts(), std::vector<std::string>{Discovery::kNotFoundText});
  EXPECT_EQ(vppSteps, 0);
}

TEST_F(DiscoveryTest, AnIdentifyReplyCutOffBeforeItsStatusIsNoAnswer) {
  programmer.cutReplies(1, 2);  // 56 01, then silence
  discovery.run();
  EXPECT_EQ(link.connectionState, kOpened);
  EXPECT_EQ(host.boxTexts(),
            std::vector<std::string>{"The Vasko Programmer Could Not Be Found...."});
  EXPECT_EQ(vppSteps, 0);

  // The header alone is a whole answer: the programmer has no data to send after it.
  host.boxes.clear();
  discovery.run();
  EXPECT_EQ(link.replyLength(), 8u);
  EXPECT_EQ(link.connectionState, kIdentified);
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(DiscoveryTest, SilentProgrammerMeetsTheWatchdogAndIsNotFound) {
  programmer.dropReplies(1);
  discovery.run();
  EXPECT_EQ(link.connectionState, kOpened);
  EXPECT_EQ(host.log.front(), "Device no longer present ... PortStatus-0 USB-5");
  EXPECT_EQ(host.boxTexts(), std::vector<std::string>{Discovery::kNotFoundText});
}

TEST_F(DiscoveryTest, RepeatedSearchClosesTheEarlierHandleBeforeOpeningAgain) {
  discovery.run();
  discovery.run();
  EXPECT_EQ(programmer.openCount(), 2);
  EXPECT_EQ(programmer.closeCount(), 1);
  EXPECT_EQ(link.connectionState, kIdentified);
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(programmer.packets().size(), 2u);
}

// The virtual programmer with something to tell, as a driver meeting an old chip would.
class TellingProgrammer final : public ForwardingApi {
 public:
  using ForwardingApi::ForwardingApi;
  FtStatus OpenEx(void* arg1, std::uint32_t flags, FtHandle* handle) override {
    notes_.push_back("The USB chip has no latency timer to set: replies will come more slowly.");
    return ForwardingApi::OpenEx(arg1, flags, handle);
  }
  std::string driverName() const override { return "libftdi1"; }
  std::vector<std::string> takeNotes() override { return std::exchange(notes_, {}); }

 private:
  std::vector<std::string> notes_;
};

TEST_F(DiscoveryTest, TheDriverAndWhatItMetGoIntoTheStatusLog) {
  TellingProgrammer telling(programmer);
  D2XXUnit unit(telling, host.events);
  Link tellingLink(unit, host.events);
  Discovery search(unit, tellingLink, host.events);
  search.run();
  EXPECT_EQ(tellingLink.connectionState, kIdentified);
  const std::deque<std::string> expected = {
      "The USB chip has no latency timer to set: replies will come more slowly.",
      "USB driver: libftdi1"};
  EXPECT_EQ(host.log, expected);
}

TEST_F(DiscoveryTest, SearchClearsAndShowsTheLogThenHidesIt) {
  host.log = {"old line"};
  std::vector<bool> visibleDuringPumps;
  host.onPump = [&] { visibleDuringPumps.push_back(host.isVisible(Control::Memo1)); };
  discovery.run();
  // Only what this search wrote: the driver it went through.
  EXPECT_EQ(host.log, std::deque<std::string>{"USB driver: virtual programmer"});
  ASSERT_FALSE(visibleDuringPumps.empty());
  EXPECT_TRUE(visibleDuringPumps.front());
  EXPECT_FALSE(host.isVisible(Control::Memo1));
}

}  // namespace
}  // namespace tandra::test
