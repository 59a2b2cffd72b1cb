// Traces replayed as tests: every trace in the replay folder is a job run once on a programmer
// (the virtual one, or in the field a real one) that must run the same again, command for
// command, with the same end. Dropping a trace and its files into the folder adds a case.
#include <unistd.h>

#include "CliFixture.h"
#include "common/FileError.h"
#include "link/ReplayApi.h"
#include "link/Trace.h"
#include "link/TracingApi.h"

namespace tandra::test {
namespace {

namespace fs = std::filesystem;

const fs::path kReplays = TANDRA_REPLAY_DATA;

// The job of a trace, to run against the trace instead of the programmer it met.
std::vector<std::string> replayArguments(const ReplayApi& replay, const fs::path& trace) {
  static const std::vector<std::string> kDropped = {"--virtual", "-v", "--verbose", "--json",
                                                     "--quiet"};
  static const std::vector<std::string> kDroppedWithValue = {"--trace", "--virtual-firmware",
                                                              "--virtual-chips", "--driver"};
  std::vector<std::string> arguments;
  const std::vector<std::string> recorded = replay.facts("argument");
  for (std::size_t i = 0; i < recorded.size(); ++i) {
    const std::string& word = recorded[i];
    const std::string name = word.substr(0, word.find('='));
    if (std::find(kDropped.begin(), kDropped.end(), word) != kDropped.end()) continue;
    if (std::find(kDroppedWithValue.begin(), kDroppedWithValue.end(), name) !=
        kDroppedWithValue.end()) {
      if (name == word) ++i;  // the value is the next word
      continue;
    }
    arguments.push_back(word);
  }
  arguments.insert(arguments.end(), {"--replay", trace.string(), "--json", "--quiet"});
  return arguments;
}

class ReplayTest : public CliFixture {
 protected:
  // Runs a trace's job on the trace, in the trace's folder (its files are named from there).
  nlohmann::json replay(const fs::path& trace, std::vector<std::string> arguments = {}) {
    const ReplayApi recorded = ReplayApi::load(trace.string());
    if (arguments.empty()) arguments = replayArguments(recorded, trace);
    const fs::path before = fs::current_path();
    fs::current_path(trace.parent_path());
    out_.str("");
    err_.str("");
    cli::CliIo io(out_, err_);
    io.stopSignal = &stopSignal_;
    code_ = cli::runCli(arguments, io);
    fs::current_path(before);
    return nlohmann::json::parse(out_.str());
  }
};

TEST_F(ReplayTest, EveryTraceInTheFolderRunsAgainAsItRan) {
  int traces = 0;
  for (const auto& entry : fs::directory_iterator(kReplays)) {
    if (entry.path().extension() != ".trace") continue;
    ++traces;
    const ReplayApi recorded = ReplayApi::load(entry.path().string());
    const nlohmann::json document = replay(entry.path());
    SCOPED_TRACE(entry.path().filename().string());
    EXPECT_TRUE(document["replay"]["matched"].get<bool>()) << document["replay"]["difference"];
    ASSERT_EQ(recorded.facts("exit").size(), 1u);
    EXPECT_EQ(code_, std::stoi(recorded.facts("exit").front())) << err_.str();
  }
  EXPECT_GE(traces, 3);
}

TEST_F(ReplayTest, AJobThatSendsSomethingElseIsToldWhereItDiffers) {
  // The same job with another image: its first page differs from the traced one.
  write("other.bin", std::string(2048, '\x5A'));
  const fs::path trace = kReplays / "program-verify.trace";
  const nlohmann::json document =
      replay(trace, {"program", "-d", "2716", "-n", "2", path("other.bin"), "--replay",
                     trace.string(), "--json", "--quiet"});
  EXPECT_EQ(code_, 3);
  EXPECT_FALSE(document["replay"]["matched"].get<bool>());
  const std::string difference = document["replay"]["difference"];
  EXPECT_TRUE(difference.starts_with("command ")) << difference;
  EXPECT_NE(difference.find(" differs from the trace at byte 8: expected 0x"), std::string::npos)
      << difference;
  EXPECT_NE(difference.find(", sent 0x5A"), std::string::npos) << difference;

  // A file that is no trace is a file error.
  write("not-a.trace", "hello\n");
  EXPECT_THROW(ReplayApi::load(path("not-a.trace")), FileError);
}

TEST_F(ReplayTest, ATraceHoldsEveryTransferAndNothingOfTheIdlePolling) {
  {
    auto trace = Trace::create(path("t.trace"));
    TracingApi traced(programmer_, *trace);
    programmer_.setFirmwareVersion(1, 5);
    cli::CliIo io(out_, err_);
    io.driver = &traced;
    cli::runCli({"blank", "-d", "2716", "--quiet"}, io);
  }
  std::ifstream in(path("t.trace"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line.substr(line.find(' ') + 1));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "tandra trace 1: microseconds, event, fields (see the README)");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "> 8 8 0 56 00 00 00 00 00 00 56"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "< 8 0 56 01 05 00 00 00 00 5C"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "open 0 "), lines.end());
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.starts_with("queue"); }),
            0);
}

}  // namespace
}  // namespace tandra::test
