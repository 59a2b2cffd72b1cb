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
    std::vector<std::string> arguments = {"program", "-d",         "2716",        "-n",
                                          "5",       "--no-check", "--no-verify", path("rom.bin")};
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

TEST_F(PausedRepliesCliTest, NoPauseAnywhereInAnyReplyMakesASocketPassThatShouldNot) {
  int stopped = 0;
  for (const PausedReply& paused : pausedReplyTable()) {
    SCOPED_TRACE(paused.describe());
    programmer_.setFullLengthReplies(paused.fullLength);
    programmer_.setFirmwareVersion(1, paused.updates() ? 10 : 20);
    // Replies from the start of the job: identify, the records, the flash check; or, without
    // an update, the identify reply, then Program's.
    const int skip = std::array{0, 1, 1 + 1 + kProgramReplies, 1,
                                1 + kPausedUpdateRecords}[static_cast<std::size_t>(paused.reply)];
    arm(paused, skip);
    const nlohmann::json first = program(paused, paused.updates());
    ASSERT_EQ(first["operations"].size(), 1u) << err_.str();
    const nlohmann::json& operation = first["operations"][0];
    for (const auto& socket : operation["sockets"]) {
      if (socket["result"] != "passed") continue;
      EXPECT_NE(socket["socket"], kEmptySocket) << "the empty socket passed";
      EXPECT_TRUE(holdsRom(socket["socket"].get<int>())) << socket["socket"];
    }
    if (operation["stopped"].get<bool>()) {
      ++stopped;
      EXPECT_EQ(code_, 3);
      EXPECT_NE(first["error"].get<std::string>().find("--full-waits"), std::string::npos);
    } else {
      EXPECT_EQ(code_, 1) << first["error"];
    }

    programmer_.clearFaults();
    const nlohmann::json second = program(paused, false);
    EXPECT_EQ(code_, 1) << second["error"];
    ASSERT_EQ(second["operations"].size(), 1u);
    for (const auto& socket : second["operations"][0]["sockets"]) {
      const bool empty = socket["socket"] == kEmptySocket;
      EXPECT_EQ(socket["text"], empty ? "Not Programmed at 0x00000" : "Programmed OK");
    }
  }
  EXPECT_LT(stopped, 10);
}

}  // namespace
}  // namespace tandra::test
