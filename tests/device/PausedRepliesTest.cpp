// The window's core on a programmer whose firmware pauses in the middle of a reply: whatever
// the reply, wherever in it and for however long, no socket passes that should not, and the
// operation after it runs in step. The command-line program is held to the same table
// (tests/cli/PausedRepliesCliTest.cpp).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "PausedReplies.h"
#include "TestHost.h"
#include "controller/Workbench.h"
#include "device/Catalogue.h"
#include "sim/VirtualProgrammer.h"

namespace tandra::test {
namespace {

using State = SocketResult::State;
constexpr int kEmptySocket = 3;
// Program of five 2716 with socket 3 empty: five replies to the first page, then four a page.
constexpr int kProgramReplies = 5 + 7 * 4;

// One case: a programmer with the pause armed, the window's core started on it, a Program of
// five 2716 with socket 3 empty, then the same on fresh chips with nothing paused.
class PausedRun {
 public:
  explicit PausedRun(const PausedReply& paused) : paused_(paused) {
    host_.onWatchdog = [this] { bench_.Timer1Timer(); };
    programmer_.setFullLengthReplies(paused.fullLength);
    bench_.session.setFullWaits(paused.fullWaits);
    for (std::int32_t a = 0; a < 2048; ++a)
      bench_.session.image()[a] = static_cast<std::uint8_t>(a * 37 + 11);
  }

  // Start-up (with the firmware update the case asks for), then Program twice.
  void run(const std::string& updateFile) {
    if (paused_.updates()) {
      programmer_.setFirmwareVersion(1, 10);
      host_.yesNoAnswers.push_back(true);
      host_.fileAnswers.push_back(updateFile);
    }
    using Reply = PausedReply::Reply;
    if (paused_.reply == Reply::Identify) arm(0);
    if (paused_.reply == Reply::Record) arm(1);
    if (paused_.reply == Reply::FlashCheck) arm(1 + kPausedUpdateRecords);
    bench_.FormCreate();
    bench_.FormActivate();
    // After an update the operator clicks the status line to find the programmer again.
    if (paused_.updates()) bench_.StaticText3Click();
    ASSERT_TRUE(bench_.session.connected());
    bench_.selection.DeviceClick();
    bench_.selection.Device_BoxClick(deviceListRow("2716"));
    bench_.selection.Num_Of_DevicesClick(5);

    freshChips();
    if (paused_.reply == Reply::OpeningIdle) arm(0);
    if (paused_.reply == Reply::ClosingIdle) arm(1 + kProgramReplies);
    bench_.Program_EpromClick();
    first = bench_.session.lastResult();
    firstLabels = host_.socketLooks;

    // The next operation follows at once, as in a job: nothing of the paused reply may be left
    // for its replies.
    programmer_.clearFaults();
    freshChips();
    bench_.Program_EpromClick();
    second = bench_.session.lastResult();
  }

  // A passed socket holds the image; the empty one never passes, in its result or its label.
  void expectNoFalsePass(const OperationResult& result,
                         const std::map<int, SocketLook>& labels) const {
    for (const SocketResult& socket : result.sockets) {
      if (socket.state != State::Passed) continue;
      EXPECT_NE(socket.socket, kEmptySocket) << "the empty socket passed";
      if (socket.socket != kEmptySocket) {
        EXPECT_TRUE(holdsImage(socket.socket)) << socket.socket;
      }
    }
    EXPECT_NE(labels.count(kEmptySocket) ? labels.at(kEmptySocket) : SocketLook::Plain,
              SocketLook::Passed);
  }
  // Every socket but the empty one programmed, and the empty one not, in step.
  void expectExact(const OperationResult& result) const {
    EXPECT_FALSE(result.stopped) << result.stopReason;
    EXPECT_TRUE(result.repliesInStep);
    ASSERT_EQ(result.sockets.size(), 5u);
    for (const SocketResult& socket : result.sockets) {
      if (socket.socket == kEmptySocket) {
        EXPECT_EQ(socket.describe(), "Not Programmed at 0x00000");
      } else {
        EXPECT_EQ(socket.state, State::Passed) << socket.socket << " " << socket.describe();
      }
    }
  }

  OperationResult first;
  OperationResult second;
  std::map<int, SocketLook> firstLabels;

 private:
  void arm(int skip) {
    programmer_.pauseReplies(1, static_cast<std::size_t>(paused_.keep),
                             Clock::Millis(paused_.pauseMs), skip);
  }
  void freshChips() {
    for (int s = 1; s <= 5; ++s) programmer_.insertChip(s, "2716");
    programmer_.removeChip(kEmptySocket);
  }
  bool holdsImage(int socket) const {
    const auto& cells = const_cast<VirtualProgrammer&>(programmer_).chip(socket).cells();
    for (std::int32_t a = 0; a < 2048; ++a) {
      if (cells[static_cast<std::size_t>(a)] != bench_.session.image()[a]) return false;
    }
    return true;
  }

  PausedReply paused_;
  TestHost host_;
  VirtualProgrammer programmer_{host_.clock};
  Workbench bench_{programmer_, host_};
};

TEST(PausedReplies, EveryPauseUnderTheWatchdogIsWaitedOutAndNoSocketPassesThatShouldNot) {
  const std::filesystem::path update =
      std::filesystem::temp_directory_path() / "tandra-paused-update.bin";
  const std::vector<std::uint8_t> bytes = VirtualProgrammer::makeUpdateFile(kPausedUpdateRecords);
  std::ofstream(update, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  for (const PausedReply& paused : pausedReplyTable()) {
    SCOPED_TRACE(paused.describe());
    PausedRun run(paused);
    run.run(update.string());
    run.expectNoFalsePass(run.first, run.firstLabels);
    run.expectExact(run.first);
    run.expectExact(run.second);
  }
  std::filesystem::remove(update);
}

}  // namespace
}  // namespace tandra::test
