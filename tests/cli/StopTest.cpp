// A stop asked for at any moment of a job (Ctrl-C, a kill, a closed terminal): the job ends as
// Quit ends an operation, the programmer is idled and let go, no socket of an operation that
// did not finish is reported passed, and the exit code says which signal it was.
#include "CliFixture.h"

#include <optional>

#include "common/Stops.h"

namespace tandra::test {
namespace {

struct Phase {
  const char* name;
  int signal;  // SIGINT 2, SIGTERM 15, SIGHUP 1
  std::uint8_t opcode;
  int nth;
  int programCommands;        // program block commands the programmer takes; -1: a multiple of five
  bool compareFirst = false;  // Program Compare before Program (no --no-check)
  // On Windows: the console event (CTRL_C_EVENT 0 ...) that asks for the stop, handled as the
  // program's console handler handles it; -1 for the signal itself.
  long consoleEvent = -1;
};

// Raises the stop once the programmer has taken the `nth` command with `opcode`; `nth` 0
// raises it before the job begins.
class StoppingProgrammer final : public ForwardingApi {
 public:
  StoppingProgrammer(VirtualProgrammer& programmer, std::atomic<int>& flag, const Phase& phase)
      : ForwardingApi(programmer), flag_(flag), phase_(phase), left_(phase.nth) {
    if (left_ == 0) stop();
  }
  FtStatus Write(FtHandle h, const void* b, std::uint32_t c, std::uint32_t* n) override {
    const FtStatus status = ForwardingApi::Write(h, b, c, n);
    if (c > 0 && static_cast<const std::uint8_t*>(b)[0] == phase_.opcode && --left_ == 0) stop();
    return status;
  }

 private:
  void stop() {
#if defined(_WIN32)
    if (phase_.consoleEvent >= 0) {
      catchStops(flag_);
      stopForConsoleEvent(static_cast<unsigned long>(phase_.consoleEvent));
      return;
    }
#endif
    flag_ = phase_.signal;
  }

  std::atomic<int>& flag_;
  const Phase& phase_;
  int left_;
};

// Five 27C256 take 128 pages each: 640 program block commands in all.
constexpr Phase kPhases[] = {
    {"BeforeDiscovery", 2, 0x00, 0, 0},
    {"DuringDiscovery", 2, 0x56, 1, 0},
    {"InTheOpeningIdle", 2, 0x24, 1, 0},
    {"OnTheFirstPage", 2, 0x43, 1, 5},  // the page under way goes to every socket
    {"MidRun", 2, 0x43, 38, -1},
    {"InTheClosingIdle", 2, 0x24, 2, 640},
    {"TerminatedMidRun", 15, 0x43, 38, -1},
    {"HungUpInTheOpeningIdle", 1, 0x24, 1, 0},
    {"HungUpInProgramCompare", 1, 0x20, 3, 0, true},
#if defined(_WIN32)
    // Ctrl-C (CTRL_C_EVENT 0) and Ctrl-Break (1) are SIGINT's, a closing console (2) SIGHUP's.
    {"CtrlCMidRun", 2, 0x43, 38, -1, false, 0},
    {"CtrlBreakMidRun", 2, 0x43, 38, -1, false, 1},
    {"ConsoleClosedInTheOpeningIdle", 1, 0x24, 1, 0, false, 2},
#endif
};

class StopTest : public CliFixture, public ::testing::WithParamInterface<Phase> {};

TEST_P(StopTest, EndsWithoutAPassIdledAndLetGo) {
  const Phase& phase = GetParam();
  StoppingProgrammer stopping(programmer_, stopSignal_, phase);
  std::vector<std::string> arguments = {"program",         "-d",    "27C256",        "-n", "5",
                                        path("image.bin"), "--log", path("stop.log")};
  if (!phase.compareFirst) arguments.push_back("--no-check");
  const nlohmann::json document = runJson(arguments, &stopping);
  EXPECT_EQ(code_, 128 + phase.signal) << out_.str() << err_.str();
  EXPECT_EQ(document["exit_code"], 128 + phase.signal);

  // A stopped set is no set done, and its chips are neither passed nor failed: each that an
  // operation had is in the log once, none of them passed.
  std::ifstream log(path("stop.log"));
  std::vector<nlohmann::json> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(nlohmann::json::parse(line));
  if (document["operations"].empty()) {
    EXPECT_TRUE(document["sets"].is_null());
    EXPECT_TRUE(lines.empty());
  } else {
    EXPECT_EQ(document["sets"], (nlohmann::json{{"done", 0},
                                                {"stopped", 1},
                                                {"chips_passed", 0},
                                                {"chips_failed", 0},
                                                {"chips_stopped", 5}}));
    ASSERT_EQ(lines.size(), 5u);
    for (const auto& line : lines) EXPECT_EQ(line["result"], "stopped") << line;
    for (const auto& chip : document["chips"]) EXPECT_EQ(chip["result"], "stopped") << chip;
  }
  if (std::string(phase.name) == "InTheClosingIdle") {
    EXPECT_EQ(lines.at(0)["text"], "Programmed OK, not verified");  // Verify never ran
  }

  for (const auto& operation : document["operations"]) {
    if (!operation["stopped"].get<bool>()) continue;
    for (const auto& socket : operation["sockets"]) EXPECT_NE(socket["result"], "passed");
  }
  if (!phase.compareFirst) {
    EXPECT_EQ(count(0x20), 0) << "no verify after a stop";
  }
  if (phase.programCommands >= 0) {
    EXPECT_EQ(count(0x43), phase.programCommands);
  } else {
    EXPECT_EQ(count(0x43) % 5, 0);
    EXPECT_LT(count(0x43), 640);
  }

  const auto& packets = programmer_.packets();
  if (phase.nth == 0) {
    EXPECT_TRUE(packets.empty()) << "a job stopped before it began leaves the programmer alone";
    EXPECT_EQ(programmer_.openCount(), 0);
  } else {
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets.back()[0], 0x24);  // idled
    EXPECT_FALSE(programmer_.isOpen());  // and let go
  }
  for (const auto& packet : packets) EXPECT_TRUE(packet.size() == 8 || packet.size() == 264);
  EXPECT_EQ(programmer_.violations(), std::vector<std::string>{});
}

// Standard error whose reader goes away once the program has found the programmer.
class GoneReader final : public std::streambuf {
 protected:
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    gone_ = gone_ ||
            std::string_view(text, static_cast<std::size_t>(count)).starts_with("programmer found");
    return gone_ ? 0 : count;
  }
  int_type overflow(int_type c) override { return gone_ ? traits_type::eof() : c; }

 private:
  bool gone_ = false;
};

class ReaderGoneTest : public CliFixture {};

TEST_F(ReaderGoneTest, StopsTheJobAsASignalDoesAndIdlesTheProgrammer) {
  GoneReader gone;
  std::ostream err(&gone);
  cli::CliIo io(out_, err);
  io.driver = &programmer_;
  io.stopSignal = &stopSignal_;
  io.errError = [] { return EPIPE; };
  EXPECT_EQ(cli::runCli({"program", "-d", "27C256", "-n", "5", path("image.bin")}, io), 141);
  EXPECT_EQ(count(0x43), 0);
  ASSERT_FALSE(programmer_.packets().empty());
  EXPECT_EQ(programmer_.packets().back()[0], 0x24);
  EXPECT_FALSE(programmer_.isOpen());
}

// The programmer lost in the middle of a run: the job says why, on standard error and in the
// record, not only in the status log that -v shows.
class Unplugging final : public ForwardingApi {
 public:
  Unplugging(VirtualProgrammer& programmer, int pages)
      : ForwardingApi(programmer), programmer_(programmer), left_(pages) {}
  FtStatus Write(FtHandle h, const void* b, std::uint32_t c, std::uint32_t* n) override {
    const FtStatus status = ForwardingApi::Write(h, b, c, n);
    if (c > 0 && static_cast<const std::uint8_t*>(b)[0] == 0x43 && --left_ == 0) {
      programmer_.setUnplugged(true);
    }
    return status;
  }

 private:
  VirtualProgrammer& programmer_;
  int left_;
};

class LinkLostTest : public CliFixture {};

TEST_F(LinkLostTest, APulledCableIsToldWithItsReasonAndRecorded) {
  Unplugging pulled(programmer_, 40);
  EXPECT_EQ(run({"program", "-d", "27C256", "-n", "5", path("image.bin"), "--no-check"}, &pulled),
            3);
  EXPECT_TRUE(says("tandra-cli: Program Device stopped: Device no longer present ... PortStatus-4"))
      << err_.str();
  programmer_.setUnplugged(false);
  Unplugging again(programmer_, 40);
  const nlohmann::json document =
      runJson({"program", "-d", "27C256", "-n", "5", path("image.bin"), "--no-check"}, &again);
  EXPECT_EQ(code_, 3);
  EXPECT_EQ(document["error"],
            "Program Device stopped: Device no longer present ... PortStatus-4 USB-0");
}

// After an update the programmer restarts: the job looks for it until it answers, for ten
// seconds, and not before the restart command has left the USB chip.
class RestartWatch final : public ForwardingApi {
 public:
  RestartWatch(VirtualProgrammer& programmer, Clock& clock)
      : ForwardingApi(programmer), clock_(clock) {}
  FtStatus Write(FtHandle h, const void* b, std::uint32_t c, std::uint32_t* n) override {
    if (c == 8 && static_cast<const std::uint8_t*>(b)[0] == 0x52) restartAt = clock_.now();
    return ForwardingApi::Write(h, b, c, n);
  }
  FtStatus OpenEx(void* arg1, std::uint32_t flags, FtHandle* handle) override {
    if (restartAt && !openedAfter) openedAfter = clock_.now() - *restartAt;
    return ForwardingApi::OpenEx(arg1, flags, handle);
  }
  std::optional<Clock::Millis> restartAt;
  std::optional<Clock::Millis> openedAfter;

 private:
  Clock& clock_;
};

TEST_F(LinkLostTest, AfterAnUpdateTheRestartingProgrammerIsLookedForUntilItAnswers) {
  const std::vector<std::uint8_t> update = VirtualProgrammer::makeUpdateFile(10);
  write("update.bin", std::string(update.begin(), update.end()));
  write("rom.bin", std::string(2048, '\x5A'));
  struct Case {
    int restartMs;
    int code;
    const char* said;
  } const cases[] = {
      {0, 0, "the programmer answered again"},
      {4000, 0, "the programmer answered again"},  // after two searches that found nothing
      {20000, 3, "the programmer did not answer within 10.0 s of its restart after the update"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.restartMs);
    programmer_.setFirmwareVersion(1, 10);
    programmer_.setRestartTakes(Clock::Millis(c.restartMs));
    for (int s = 1; s <= 5; ++s) programmer_.insertChip(s, "2716");
    RestartWatch watch(programmer_, clock_);
    EXPECT_EQ(
        run({"program", "-d", "2716", path("rom.bin"), "--update-firmware", path("update.bin")},
            &watch),
        c.code)
        << err_.str();
    EXPECT_TRUE(says(c.said)) << err_.str();
    ASSERT_TRUE(watch.openedAfter);
    EXPECT_GE(watch.openedAfter->count(), 50);
    clock_.advance(Clock::Millis(30000));  // the last restart is over
  }
}

INSTANTIATE_TEST_SUITE_P(Phases, StopTest, ::testing::ValuesIn(kPhases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace tandra::test
