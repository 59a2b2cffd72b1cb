// Traces replayed as tests: every trace in the replay folder is a job run once on a programmer
// (the virtual one, or in the field a real one) that must run the same again, command for
// command, with the same end. Dropping a trace and its files into the folder adds a case.
#include <unistd.h>

#include <functional>

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

TEST_F(ReplayTest, ATraceHoldsEveryTransferWhatTheOperatorSawAndNothingOfTheIdlePolling) {
  std::vector<std::string> lines;
  const auto readBack = [&] {
    lines.clear();
    std::ifstream in(path("t.trace"));
    for (std::string line; std::getline(in, line);)
      lines.push_back(line.substr(line.find(' ') + 1));
  };
  const auto has = [&](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  const auto starting = [&](const std::string& start) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& line) { return line.starts_with(start); });
  };
  programmer_.setFirmwareVersion(1, 5);
  programmer_.removeChip(2);  // an empty socket
  {
    auto trace = Trace::create(path("t.trace"));
    trace->startFacts("tandra-cli test");
    TracingApi traced(programmer_, *trace);
    cli::CliIo io(out_, err_);
    io.driver = &traced;
    io.clock = &clock_;
    cli::runCli({"blank", "-d", "2716", "-n", "2", "--quiet", "--trace", path("t2.trace")}, io);
    cli::runCli({"blank", "-d", "2716", "-n", "2", "--quiet"}, io);
    // On disk as it happens: nothing waits for the trace to be closed.
    readBack();
  }
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "tandra trace 2: microseconds, event, fields (see the README)");
  EXPECT_TRUE(has("> 8 8 0 56 00 00 00 00 00 00 56"));
  EXPECT_TRUE(has("< 8 8 0 56 01 05 00 00 00 00 5C"));  // asked for and got
  EXPECT_TRUE(has("open 0 "));
  EXPECT_EQ(starting("queue"), 0);
  EXPECT_EQ(starting("fact usb.vid:pid 0403:6001"), 2);  // at each open

  // The job's own trace: the start-up facts, how each wait ended, what the operator saw.
  lines.clear();
  std::ifstream in(path("t2.trace"));
  for (std::string line; std::getline(in, line);) lines.push_back(line.substr(line.find(' ') + 1));
  for (const char* fact : {"fact program tandra-cli ", "fact run ", "fact started 20", "fact os ",
                           "fact usb.vid:pid 0403:6001", "fact usb.latency-timer ",
                           "fact argument --quiet", "fact exit 4"}) {
    EXPECT_EQ(starting(fact), 1) << fact;
  }
  EXPECT_TRUE(has("timeouts 0 500 5000"));    // writes are given a bounded time
  EXPECT_EQ(starting("reply 8 8 quiet"), 1);  // the identify reply
  EXPECT_TRUE(
      has("question This Software Requires Firmware Version - 1.20  Do You Want to "
          "Flash Update the Programmer ?"));
  EXPECT_TRUE(has("answer no"));

  // A programmer with current firmware: the verdicts as the labels showed them.
  programmer_.setFirmwareVersion(1, 20);
  run({"blank", "-d", "2716", "-n", "2", "--quiet", "--trace", path("t3.trace")});
  lines.clear();
  std::ifstream blank(path("t3.trace"));
  for (std::string line; std::getline(blank, line);)
    lines.push_back(line.substr(line.find(' ') + 1));
  EXPECT_GT(starting("reply 8 8 complete"), 0);        // idle commands
  EXPECT_GT(starting("reply 2056 2056 complete"), 0);  // read blocks
  EXPECT_TRUE(has("operation Checking to see if Device is erased...."));
  EXPECT_TRUE(has("socket 1 passed  Is Blank      "));
  EXPECT_TRUE(has("socket 2 passed  Is Blank      "));  // an empty socket's lines float high
}

TEST_F(ReplayTest, VerdictsAreHeldAgainstTheTracesAndADifferenceNamesTheReplyBehindIt) {
  // A traced run: two 2716 programmed and verified.
  write("rom.bin", std::string(image_.begin(), image_.begin() + 2048));
  code_ = run({"program", "-d", "2716", "-n", "2", "--no-check", path("rom.bin"), "--trace",
               path("run.trace")});
  ASSERT_EQ(code_, 0) << err_.str();
  std::vector<std::string> lines;
  {
    std::ifstream in(path("run.trace"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  const auto edited = [&](const std::string& name, const std::function<bool(std::string&)>& edit) {
    std::ofstream out(path(name));
    bool done = false;
    for (std::string line : lines) {
      if (!done) done = edit(line);
      out << line << "\n";
    }
    EXPECT_TRUE(done) << name;
    return path(name);
  };
  const std::vector<std::string> job = {"program", "-d",         "2716",         "-n",
                                        "2",       "--no-check", path("rom.bin")};
  const auto replayOf = [&](const std::string& trace) {
    std::vector<std::string> arguments = job;
    arguments.insert(arguments.end(), {"--replay", trace, "--json", "--quiet"});
    return replay(trace, arguments);
  };

  // A byte of the block socket 1 sent changed: the commands agree, the verdicts do not.
  const nlohmann::json verdicts = replayOf(edited("verdicts.trace", [](std::string& line) {
    if (line.find(" < 2056 2056 0 20 ") == std::string::npos) return false;
    line.back() = line.back() == '0' ? '1' : '0';
    return true;
  }));
  EXPECT_EQ(code_, 3);
  EXPECT_EQ(verdicts["replay"]["difference"],
            "operation 2: socket 1 ended passed in the trace and failed in the replay");

  // A page refused in the trace: the job leaves that socket out, and the difference names the
  // reply that made it.
  const nlohmann::json refused = replayOf(edited("refused.trace", [](std::string& line) {
    const std::string good = " < 8 8 0 43 00 00 00 00 00 00 43";
    const std::size_t at = line.find(good);
    if (at == std::string::npos) return false;
    line.replace(at, good.size(), " < 8 8 0 43 00 00 00 00 00 FF 42");
    return true;
  }));
  EXPECT_EQ(code_, 3);
  const std::string difference = refused["replay"]["difference"];
  EXPECT_NE(difference.find("was received as 43 00 00 00 00 00 FF 42"), std::string::npos)
      << difference;
}

}  // namespace
}  // namespace tandra::test
