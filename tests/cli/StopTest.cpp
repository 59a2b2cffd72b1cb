// A stop asked for at any moment of a job (Ctrl-C, a kill, a closed terminal): the job ends as
// Quit ends an operation, the programmer is idled and let go, no socket of an operation that
// did not finish is reported passed, and the exit code says which signal it was.
#include "CliFixture.h"

namespace tandra::test {
namespace {

// Raises the stop once the programmer has taken the `nth` command with `opcode`; `nth` 0
// raises it before the job begins.
class StoppingProgrammer final : public ForwardingApi {
 public:
  StoppingProgrammer(VirtualProgrammer& programmer, std::atomic<int>& flag, int signal, std::uint8_t opcode,
                     int nth)
      : ForwardingApi(programmer), flag_(flag), signal_(signal), opcode_(opcode), left_(nth) {
    if (nth == 0) flag_ = signal_;
  }
  FtStatus Write(FtHandle h, const void* b, std::uint32_t c, std::uint32_t* n) override {
    const FtStatus status = ForwardingApi::Write(h, b, c, n);
    if (c > 0 && static_cast<const std::uint8_t*>(b)[0] == opcode_ && --left_ == 0) flag_ = signal_;
    return status;
  }

 private:
  std::atomic<int>& flag_;
  int signal_;
  std::uint8_t opcode_;
  int left_;
};

struct Phase {
  const char* name;
  int signal;  // SIGINT 2, SIGTERM 15, SIGHUP 1
  std::uint8_t opcode;
  int nth;
  int programCommands;  // program block commands the programmer takes; -1: a multiple of five
  bool compareFirst = false;  // Program Compare before Program (no --no-check)
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
};

class StopTest : public CliFixture, public ::testing::WithParamInterface<Phase> {};

TEST_P(StopTest, EndsWithoutAPassIdledAndLetGo) {
  const Phase& phase = GetParam();
  StoppingProgrammer stopping(programmer_, stopSignal_, phase.signal, phase.opcode, phase.nth);
  std::vector<std::string> arguments = {"program", "-d",  "27C256", "-n", "5", path("image.bin"),
                                         "--log",   path("stop.log")};
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
    gone_ = gone_ || std::string_view(text, static_cast<std::size_t>(count)).starts_with("programmer found");
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

INSTANTIATE_TEST_SUITE_P(Phases, StopTest, ::testing::ValuesIn(kPhases),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace tandra::test
