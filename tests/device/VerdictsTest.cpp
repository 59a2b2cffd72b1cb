// What a read test may conclude of a socket: only what that socket's own chip gave, read whole;
// a reply cut short, or bytes left unread after Quit, give no socket a pass.
#include "OperationsFixture.h"

namespace tandra::test {
namespace {

class VerdictsTest : public OperationsFixture {
 protected:
  // Five 27C256s that hold the buffer.
  void programFive() {
    fillRandom(21);
    choose("27C256", 5);
    bench.Program_EpromClick();
    EXPECT_EQ(status(), "Programming Done....");
  }

  // A byte of one chip that no longer matches the buffer.
  void spoil(int socket, std::uint32_t address) {
    programmer.chip(socket).cells()[address] ^= 0x5A;
  }

  const SocketResult& result(int socket) const {
    return bench.session.lastResult().sockets.at(static_cast<std::size_t>(socket - 1));
  }
};

TEST_F(VerdictsTest, EverySocketIsJudgedOnItsOwnChip) {
  programFive();
  // One chip at a time: its own socket fails, the other four pass. While the run is under way
  // no label looks passed, whatever its words; at its end the four are marked passed.
  for (int bad = 1; bad <= 5; ++bad) {
    const std::uint32_t address = 0x0123 + 0x0800 * static_cast<std::uint32_t>(bad);
    spoil(bad, address);
    bool passedTooEarly = false;
    host.progress.clear();
    host.onPump = [&] {
      const bool running = host.buttonsBusy && !host.progress.empty();
      passedTooEarly |= running && !host.socketsLooking(SocketLook::Passed).empty();
    };
    bench.Verify_EpromClick();
    host.onPump = nullptr;
    EXPECT_FALSE(passedTooEarly) << bad;
    for (int s = 1; s <= 5; ++s) {
      const std::string words = s == bad ? "-Didn't Verify" : "- Verified OK   ";
      EXPECT_EQ(label(s), std::to_string(s) + words) << bad;
      EXPECT_EQ(host.socketLooks[s], s == bad ? SocketLook::Failed : SocketLook::Passed) << bad;
    }
    EXPECT_EQ(host.log.front().substr(host.log.front().find(',')), ", 1 of 5 sockets failed");
    ASSERT_TRUE(result(bad).failure.has_value()) << bad;
    EXPECT_EQ(result(bad).failure->address, static_cast<std::int32_t>(address)) << bad;
    spoil(bad, address);  // and back
  }

  // Every chip, each in a later block than the one before: a socket that failed early is no
  // reason to stop reading the sockets after it.
  for (int s = 1; s <= 5; ++s) spoil(s, 0x0040 + 0x0800 * static_cast<std::uint32_t>(s - 1));
  bench.Verify_EpromClick();
  for (int s = 1; s <= 5; ++s) {
    EXPECT_EQ(label(s), std::to_string(s) + "-Didn't Verify");
    ASSERT_TRUE(result(s).failure.has_value()) << s;
    EXPECT_EQ(result(s).failure->address, 0x0040 + 0x0800 * (s - 1)) << s;
  }
  EXPECT_EQ(status(), "Verify Test Done....");
}

TEST_F(VerdictsTest, ABlockReplyCutShortIsNoPassForItsSocket) {
  programFive();
  spoil(2, 1000);  // past the cut, where socket 1's bytes are still in the read buffer
  bool armed = false;
  host.onPump = [&] {
    const Bytes& last = programmer.packets().back();
    if (!armed && last[0] == opcode::ReadBlock && last[4] == 0xBE) {
      programmer.cutReplies(1, Link::kCommandLength + 100);  // socket 2's reply
      armed = true;
    }
  };
  bench.Verify_EpromClick();
  host.onPump = nullptr;
  EXPECT_EQ(status(), "Stopped at 0000....");
  EXPECT_EQ(label(2), "2-Stopped");
  EXPECT_EQ(result(2).state, SocketResult::State::Stopped);
  EXPECT_TRUE(bench.session.lastResult().stopped);
}

TEST_F(VerdictsTest, AfterQuitTheRestOfTheBlockIsJudgedOnItsFirstByteOnly) {
  programFive();
  spoil(1, 0x1400);  // read whole before Quit: judged
  spoil(2, 0x1010);  // after Quit: not looked at
  spoil(3, 0x1000);  // the first byte of the block: still judged
  spoil(4, 0x17FF);
  // Quit while the programmer reads socket 2's part of the third block.
  bool quitClicked = false;
  host.onPump = [this, &quitClicked] {
    const Bytes& last = programmer.packets().back();
    if (!quitClicked && host.caption(Control::Quit_Func_But) == "&Quit = 1000" &&
        last[0] == opcode::ReadBlock && last[4] == 0xBD) {
      quitClicked = true;
      bench.Quit_Func_ButClick();
    }
  };
  bench.Verify_EpromClick();
  host.onPump = nullptr;
  EXPECT_EQ(status(), "Stopped at 1000....");
  EXPECT_EQ(label(1), "1-Didn't Verify");
  EXPECT_EQ(label(2), "2-Stopped");
  EXPECT_EQ(label(3), "3-Didn't Verify");
  EXPECT_EQ(label(4), "4-Stopped");
  EXPECT_EQ(label(5), "5-Stopped");
}

}  // namespace
}  // namespace tandra::test
