// tandra-cli on a programmer whose firmware pauses in the middle of a reply: the table the
// window's core is held to (tests/device/PausedRepliesTest.cpp), through the command line, its
// result lines, its record and its exit code.
#include "CliFixture.h"
#include "PausedReplies.h"

namespace tandra::test {
namespace {

constexpr int kEmptySocket = 3;
// Program of five 2716 with socket 3 empty: five replies to the first page, then four a page.
constexpr int kProgramReplies = 5 + 7 * 4;

class PausedRepliesCliTest : public CliFixture {
 protected:
  PausedRepliesCliTest() {
    const std::vector<std::uint8_t> update =
        VirtualProgrammer::makeUpdateFile(kPausedUpdateRecords);
    write("update.bin", std::string(update.begin(), update.end()));
    write("rom.bin", std::string(image_.begin(), image_.begin() + 2048));
  }

  nlohmann::json program(const PausedReply& paused, bool update) {
    // Program, then Verify at once: nothing of a reply paused in Program's closing idle may be
    // left for Verify's.
    std::vector<std::string> arguments = {"program", "-d",         "2716", "-n",
                                          "5",       "--no-check", path("rom.bin")};
    if (paused.fullWaits) arguments.push_back("--full-waits");
    if (update) arguments.insert(arguments.end(), {"--update-firmware", path("update.bin")});
    for (int s = 1; s <= 5; ++s) programmer_.insertChip(s, "2716");
    programmer_.removeChip(kEmptySocket);
    return runJson(arguments);
  }

  void arm(const PausedReply& paused, int skip) {
    programmer_.pauseReplies(1, static_cast<std::size_t>(paused.keep),
                             Clock::Millis(paused.pauseMs), skip);
  }

  bool holdsRom(int socket) {
    const auto& cells = programmer_.chip(socket).cells();
    return std::equal(image_.begin(), image_.begin() + 2048, cells.begin());
  }
};

TEST_F(PausedRepliesCliTest, EveryPauseUnderTheWatchdogIsWaitedOutAndNoSocketPassesThatShouldNot) {
  for (const PausedReply& paused : pausedReplyTable()) {
    SCOPED_TRACE(paused.describe());
    programmer_.setFullLengthReplies(paused.fullLength);
    programmer_.setFirmwareVersion(1, paused.updates() ? 10 : 20);
    // Replies from the start of the job: identify, the records, the flash check; or, without
    // an update, the identify reply, then Program's.
    const int skip = std::array{0, 1, 1 + 1 + kProgramReplies, 1,
                                1 + kPausedUpdateRecords}[static_cast<std::size_t>(paused.reply)];
    arm(paused, skip);
    for (const bool update : {paused.updates(), false}) {
      const nlohmann::json record = program(paused, update);
      EXPECT_EQ(code_, 1) << record["error"];
      ASSERT_EQ(record["operations"].size(), 2u) << err_.str();
      for (const auto& operation : record["operations"]) {
        EXPECT_FALSE(operation["stopped"].get<bool>()) << operation;
        for (const auto& socket : operation["sockets"]) {
          const bool empty = socket["socket"] == kEmptySocket;
          EXPECT_EQ(socket["result"], empty ? "failed" : "passed") << socket;
          if (!empty) {
            EXPECT_TRUE(holdsRom(socket["socket"].get<int>())) << socket["socket"];
          }
        }
      }
      programmer_.clearFaults();
    }
  }
}

}  // namespace
}  // namespace tandra::test
