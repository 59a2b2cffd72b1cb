// tandra-cli doctor, the first-contact check, on the virtual programmer: every line OK when all
// is well, and each fault the programmer can play named with what to do about it.
#include <regex>

#include "CliFixture.h"

namespace tandra::test {
namespace {

class DoctorTest : public CliFixture {
 protected:
  // The doctor's lines, its trace in the scratch folder.
  std::vector<std::string> doctor(std::vector<std::string> more = {}) {
    std::vector<std::string> arguments = {"doctor", "--trace", path("doctor.trace")};
    arguments.insert(arguments.end(), more.begin(), more.end());
    code_ = run(arguments);
    std::vector<std::string> lines;
    std::istringstream in(out_.str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  static int notOk(const std::vector<std::string>& lines) {
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
      return !line.ends_with(": OK") && !line.starts_with("trace written") &&
             !line.starts_with("doctor:") && line.find(": nothing to fix") == std::string::npos;
    }));
  }
  static bool names(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  }
};

TEST_F(DoctorTest, OnAProgrammerThatIsWellEveryLineIsOk) {
  for (const bool fullLength : {false, true}) {
    programmer_.setFullLengthReplies(fullLength);
    const std::vector<std::string> lines = doctor();
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    EXPECT_EQ(code_, 0) << all << err_.str();
    EXPECT_EQ(notOk(lines), 0) << all;
    EXPECT_TRUE(names(lines, "USB device 0403:6001, bcdDevice 0600, serial VP000001")) << all;
    EXPECT_TRUE(names(lines, "latency timer set to 2 ms: OK")) << all;
    EXPECT_TRUE(names(lines, fullLength ? "identify reply: 2056 bytes" : "identify reply: 8 bytes"))
        << all;
    EXPECT_TRUE(names(lines, "firmware 1.20: OK")) << all;
    EXPECT_TRUE(names(lines, "socket 1 read as 27C256 with both waits")) << all;
    EXPECT_TRUE(names(lines, "trace written to " + path("doctor.trace"))) << all;
  }
  std::ifstream trace(path("doctor.trace"));
  const std::string text((std::istreambuf_iterator<char>(trace)), {});
  EXPECT_NE(text.find("fact argument doctor"), std::string::npos);
  EXPECT_NE(text.find("reply 2056 2056 complete"), std::string::npos);
}

// Each finding is named with what to do about it, and only what was shown to help; the trace
// holds every line the user was told.
TEST_F(DoctorTest, EachFaultTheProgrammerPlaysIsNamedWithWhatToDo) {
  struct Case {
    const char* fault;
    std::function<void(VirtualProgrammer&)> play;
    const char* named;
    int code;
  } const cases[] = {
      {"permission refused", [](VirtualProgrammer& p) { p.setOpenRefused(true); },
       "this user may not open the virtual programmer: install the udev rule", 3},
      {"no latency timer", [](VirtualProgrammer& p) { p.setLatencyTimerRefused(true); },
       "kept its own latency timer of 16 ms: nothing to fix", 0},
      {"paused after the header",
       [](VirtualProgrammer& p) {
         p.setFullLengthReplies(true);
         // Every identify reply: the search's, the check's.
         p.pauseReplies(3, 8, Clock::Millis(120));
       },
       "identify reply: 2056 bytes in 2 pieces, the longest pause 120 ms after byte 8 (the "
       "header and a full block): OK",
       0},
      {"paused after the header for longer than the read time-out",
       [](VirtualProgrammer& p) {
         p.setFullLengthReplies(true);
         p.pauseReplies(3, 8, Clock::Millis(600));
       },
       "identify reply: 2056 bytes in 2 pieces, the longest pause 600 ms after byte 8", 0},
      {"pulled cable", [](VirtualProgrammer& p) { p.setUnplugged(true); },
       "no FTDI USB device is attached: plug the programmer in", 3},
      {"old firmware", [](VirtualProgrammer& p) { p.setFirmwareVersion(1, 10); },
       "firmware 1.10: older than 1.20", 1},
      {"two programmers", [](VirtualProgrammer& p) { p.setDeviceCount(2); },
       "2 FTDI USB devices are attached: name the programmer with --serial", 3},
      {"a line that keeps talking", [](VirtualProgrammer& p) { p.setTalking(true, 2); },
       "the line kept talking for 3 s", 3},
      // Last: a programmer that did not answer well is left open, as the window leaves it.
      {"identify refused", [](VirtualProgrammer& p) { p.setIdentifyStatus(0xFF); },
       "answered the identify command with status 0xFF, not 0x00", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    programmer_.setOpenRefused(false);
    programmer_.setLatencyTimerRefused(false);
    programmer_.setFullLengthReplies(false);
    programmer_.setUnplugged(false);
    programmer_.setFirmwareVersion(1, 20);
    programmer_.setDeviceCount(1);
    programmer_.setIdentifyStatus(0x00);
    programmer_.clearFaults();
    c.play(programmer_);
    const std::vector<std::string> lines = doctor();
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    EXPECT_TRUE(names(lines, c.named)) << all;
    EXPECT_EQ(code_, c.code) << all << err_.str();
    EXPECT_EQ(notOk(lines) > 0, c.code != 0) << all;
    // Advice only where it was shown to help, and no noise where nothing was asked.
    EXPECT_FALSE(names(lines, "--full-waits")) << all;
    if (c.code == 3) {
      EXPECT_FALSE(names(lines, "the status log said")) << all;
    }
    std::ifstream in(path("doctor.trace"));
    const std::string trace((std::istreambuf_iterator<char>(in)), {});
    for (const std::string& line : lines) {
      EXPECT_NE(trace.find(" doctor " + line + "\n"), std::string::npos) << line;
    }
  }
}

TEST_F(DoctorTest, TheShippedUdevRuleKeepsPortProbersOffEveryChipItGivesTheUser) {
  std::ifstream in(TANDRA_UDEV_RULE);
  const std::string rule((std::istreambuf_iterator<char>(in)), {});
  ASSERT_FALSE(rule.empty());
  const std::regex ignore(
      R"re(ATTRS\{idProduct\}=="([0-9a-f|]+)", ENV\{ID_MM_DEVICE_IGNORE\}="1")re");
  std::smatch ignored;
  ASSERT_TRUE(std::regex_search(rule, ignored, ignore));
  const std::regex given(R"re(ATTR\{idProduct\}=="([0-9a-f]+)", TAG\+="uaccess")re");
  int products = 0;
  for (auto it = std::sregex_iterator(rule.begin(), rule.end(), given);
       it != std::sregex_iterator(); ++it, ++products) {
    EXPECT_NE(ignored[1].str().find((*it)[1].str()), std::string::npos) << (*it)[1];
  }
  EXPECT_EQ(products, 5);
}

}  // namespace
}  // namespace tandra::test
