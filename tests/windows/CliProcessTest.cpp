// tandra-cli.exe as Windows runs it: binary images through standard input and output, two
// programs on one ledger and one log, Ctrl-C from the console, a kill, the local time, and the
// vendor's library missing or standing in for the system's list of USB devices.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "CliProcess.h"

namespace tandra::test {
namespace {

namespace fs = std::filesystem;

fs::path cliProgram() {
  return fs::absolute(fs::u8path(TANDRA_CLI_EXE));
}

std::string readWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A copy made by reading and writing, whose failure names the file and what was written of it.
void copyWhole(const fs::path& from, const fs::path& to) {
  const std::string bytes = readWhole(from);
  ASSERT_FALSE(bytes.empty()) << "nothing could be read from " << from;
  std::ofstream out(to, std::ios::binary);
  out << bytes;
  out.close();
  ASSERT_TRUE(out.good()) << to << " could not be written (a full disk?)";
  ASSERT_EQ(fs::file_size(to), bytes.size()) << to;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

class WindowsCli : public ::testing::Test {
 protected:
  WindowsCli() {
    folder_ =
        fs::temp_directory_path() / ("tandra-cli-exe-" + std::to_string(std::random_device()()));
    fs::create_directories(folder_);
  }
  ~WindowsCli() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  std::string path(const std::string& name) const {
    const std::u8string text = (folder_ / fs::u8path(name)).u8string();
    return {text.begin(), text.end()};
  }
  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream(folder_ / fs::u8path(name), std::ios::binary) << bytes;
  }
  Finished run(const std::vector<std::string>& words, const std::string& input = {}) const {
    Launch launch;
    launch.words = words;
    launch.input = input;
    launch.folder = folder_.native();
    return runProgram(cliProgram().native(), launch);
  }
  // 2 KiB in which every byte value stands, line ends and Ctrl-Z among them.
  static std::string everyByte() {
    std::string bytes;
    for (int i = 0; i < 2048; ++i) bytes += static_cast<char>((i * 7 + i / 256) & 0xFF);
    bytes.replace(0, 6, "\r\n\n\x1A\r\x1A");
    return bytes;
  }

  fs::path folder_;
};

TEST_F(WindowsCli, StandardInputAndOutputCarryABinaryImageUntouched) {
  const std::string image = everyByte();
  const Finished through =
      run({"convert", "-d", "2716", "--format", "bin", "--out-format", "bin", "-", "-"}, image);
  EXPECT_EQ(through.exitCode, 0u) << through.err;
  EXPECT_TRUE(through.out == image) << through.out.size() << " bytes came out of 2048";

  // The checksum of every byte, read whole past its Ctrl-Z.
  unsigned sum = 0;
  for (char c : image) sum += static_cast<unsigned char>(c);
  char expected[8];
  std::snprintf(expected, sizeof expected, "%04X", sum & 0xFFFF);
  const Finished checksum = run({"checksum", "-d", "2716", "--format", "bin", "-"}, image);
  EXPECT_EQ(checksum.exitCode, 0u) << checksum.err;
  EXPECT_NE(checksum.out.find(expected), std::string::npos) << checksum.out;
}

TEST_F(WindowsCli, TwoProgramsShareOneLedgerAndOneLog) {
  write("code.bin", everyByte().substr(0, 2040));
  ASSERT_EQ(run({"serial", path("line.ledger"), "--sn-start", "1000"}).exitCode, 0u);
  const std::vector<std::string> words = {"program",     "-d",
                                          "2716",        "-n",
                                          "5",           path("code.bin"),
                                          "--virtual",   "--repeat",
                                          "--sn-at",     "7F8",
                                          "--sn-ledger", path("line.ledger"),
                                          "--log",       path("shared.log"),
                                          "--quiet"};
  Launch launch;
  launch.words = words;
  launch.input = "\n\n";  // three sets each, one after another
  launch.folder = folder_.native();
  CliProcess first(cliProgram().native(), launch);
  CliProcess second(cliProgram().native(), launch);
  const Finished one = first.finish();
  const Finished other = second.finish();
  EXPECT_EQ(one.exitCode, 0u) << one.err;
  EXPECT_EQ(other.exitCode, 0u) << other.err;

  std::set<std::string> serials;
  const std::vector<std::string> lines = linesOf(readWhole(folder_ / "shared.log"));
  ASSERT_EQ(lines.size(), 30u);
  for (const std::string& line : lines) {
    const nlohmann::json record = nlohmann::json::parse(line);  // whole, never torn
    serials.insert(record["serial_number"].get<std::string>());
    EXPECT_EQ(record["result"], "passed") << line;
  }
  EXPECT_EQ(serials.size(), 30u) << "a serial number given twice";
  EXPECT_EQ(*serials.begin(), "1000");
  EXPECT_EQ(*serials.rbegin(), "1029");
  EXPECT_NE(run({"serial", path("line.ledger")}).out.find("1030"), std::string::npos);
}

// A trace written as the job goes: killed at any moment, it holds every line up to then, whole.
TEST_F(WindowsCli, ATraceKilledWithTerminateProcessIsWholeUpToItsLastLine) {
  write("image.bin", std::string(0x8000, '\x5A'));
  Launch launch;
  launch.words = {"--trace", path("killed.trace"), "program",  "-d", "27C256", "-n",
                  "5",       path("image.bin"),    "--virtual"};
  launch.folder = folder_.native();
  CliProcess job(cliProgram().native(), launch);
  std::size_t before = 0;
  for (int wait = 0; wait < 300 && before < 200; ++wait) {
    ::Sleep(50);
    before = linesOf(readWhole(folder_ / "killed.trace")).size();
  }
  ASSERT_GE(before, 200u) << "the trace did not grow";
  ::TerminateProcess(job.handle(), 1);
  job.finish();
  const std::string trace = readWhole(folder_ / "killed.trace");
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace.back(), '\n') << "a line cut short";
  const std::vector<std::string> lines = linesOf(trace);
  EXPECT_GE(lines.size(), before);
  // Its heading, then one event a line.
  const std::regex event(R"(\d+ \S.*)");
  ASSERT_TRUE(lines.front().starts_with("# tandra trace ")) << lines.front();
  for (std::size_t at = 1; at < lines.size(); ++at) {
    EXPECT_TRUE(std::regex_match(lines[at], event)) << lines[at];
  }
}

// The record, the log, the ledger and the trace tell the local time with its offset.
TEST_F(WindowsCli, EveryTimeWrittenIsLocalWithItsOffsetFromUtc) {
  write("code.bin", std::string(2040, '\x11'));
  ASSERT_EQ(run({"serial", path("times.ledger"), "--sn-start", "1"}).exitCode, 0u);
  _putenv("TZ=IST-5:30");  // the program started next inherits it
  const Finished job = run({"--trace", path("times.trace"), "program", "-d", "2716", "-n", "1",
                            path("code.bin"), "--virtual", "--sn-at", "7F8", "--sn-ledger",
                            path("times.ledger"), "--log", path("times.log"), "--json"});
  _putenv("TZ=");
  ASSERT_EQ(job.exitCode, 0u) << job.err;
  const std::regex local(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\+05:30)");
  const nlohmann::json record = nlohmann::json::parse(job.out);
  EXPECT_TRUE(std::regex_match(record["started"].get<std::string>(), local)) << record["started"];
  const nlohmann::json line =
      nlohmann::json::parse(linesOf(readWhole(folder_ / "times.log")).at(0));
  EXPECT_TRUE(std::regex_match(line["time"].get<std::string>(), local)) << line["time"];
  std::smatch found;
  const std::string ledger = readWhole(folder_ / "times.ledger");
  ASSERT_TRUE(std::regex_search(ledger, found, std::regex(R"(reserved (\S+))"))) << ledger;
  EXPECT_TRUE(std::regex_match(found[1].str(), local)) << found[1];
  const std::string trace = readWhole(folder_ / "times.trace");
  ASSERT_TRUE(std::regex_search(trace, found, std::regex(R"(fact started (\S+))"))) << trace;
  EXPECT_TRUE(std::regex_match(found[1].str(), local)) << found[1];
}

TEST_F(WindowsCli, WithoutTheVendorsLibraryItIsSaidPlainlyAndTheVirtualProgrammerWorks) {
  const Finished list = run({"list"});
  EXPECT_EQ(list.exitCode, 3u);
  EXPECT_NE(list.err.find("ftd2xx.dll was not found: install the FTDI driver"), std::string::npos)
      << list.err;
  const Finished doctor = run({"doctor", "--trace", path("doctor.trace")});
  EXPECT_EQ(doctor.exitCode, 3u);
  EXPECT_NE(doctor.out.find("ftd2xx.dll was not found: install the FTDI driver"), std::string::npos)
      << doctor.out << doctor.err;
  write("code.bin", std::string(2048, '\xA5'));
  const Finished virtualRun =
      run({"program", "-d", "2716", "-n", "2", path("code.bin"), "--virtual", "--quiet"});
  EXPECT_EQ(virtualRun.exitCode, 0u) << virtualRun.err;
}

// Where the system keeps no list of USB devices, the first-contact check asks the vendor's
// library: here a stand-in for it, beside the program, that finds one FT232R.
TEST_F(WindowsCli, TheDoctorListsTheDevicesTheVendorsLibraryFinds) {
  ASSERT_NO_FATAL_FAILURE(copyWhole(cliProgram(), folder_ / "tandra-cli.exe"));
  ASSERT_NO_FATAL_FAILURE(
      copyWhole(fs::absolute(fs::u8path(FAKE_D2XX_ATTACHED)), folder_ / "ftd2xx.dll"));
  Launch launch;
  launch.words = {"doctor", "--trace", path("doctor.trace")};
  launch.folder = folder_.native();
  const Finished doctor = runProgram((folder_ / "tandra-cli.exe").native(), launch);
  EXPECT_NE(doctor.out.find("USB device 0403:6001, bcdDevice 0600, serial FT5EED00, full speed "
                            "(12 Mb/s), 64-byte packets: OK"),
            std::string::npos)
      << doctor.out << doctor.err;
  EXPECT_NE(doctor.out.find("this user may open D2XX device 0: OK"), std::string::npos)
      << doctor.out;
  EXPECT_EQ(doctor.out.find("udev"), std::string::npos) << "no udev rule on Windows";
  EXPECT_NE(doctor.out.find("driver: D2XX library ftd2xx.dll"), std::string::npos) << doctor.out;
}

}  // namespace
}  // namespace tandra::test
