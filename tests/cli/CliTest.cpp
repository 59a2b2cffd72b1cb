// tandra-cli end to end on the virtual programmer: the command line in, the exit code, the
// result lines and the JSON document out.
#include <filesystem>
#include <sstream>
#include "CliFixture.h"
#include "production/Acceptance.h"
#include "production/Digest.h"

namespace tandra::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class CliTest : public CliFixture {};

TEST_F(CliTest, ProgramFiveSocketsThenVerifyTheyPass) {
  EXPECT_EQ(run({"program", "-d", "27c256", "-n", "5", path("image.bin")}), 0) << err_.str();
  for (int s = 1; s <= 5; ++s) {
    EXPECT_TRUE(says("socket " + std::to_string(s) + ": Programmed OK")) << s;
    EXPECT_TRUE(says("socket " + std::to_string(s) + ": Verified OK")) << s;
    EXPECT_TRUE(chipHoldsTheImage(s)) << s;
  }
  EXPECT_TRUE(says("program: 5 of 5 sockets passed in "));
  EXPECT_EQ(programmer_.violations(), std::vector<std::string>{});
  EXPECT_EQ(programmer_.packets().back()[0], 0x24);  // idled
  EXPECT_FALSE(programmer_.isOpen());                // and let go
}

TEST_F(CliTest, AStuckBitIsNamedWithItsAddressAndBytes) {
  programmer_.chip(4).setStuckBit(0x1A7F, 2, false);
  EXPECT_EQ(
      run({"program", "-d", "27C256", "-n", "5", path("image.bin"), "--no-verify", "--no-check"}),
      1);
  const nlohmann::json document = runJson({"verify", "-d", "27C256", "-n", "5", path("image.bin")});
  EXPECT_EQ(code_, 1);
  const nlohmann::json& socket4 = document["operations"][0]["sockets"][3];
  EXPECT_EQ(socket4["result"], "failed");
  EXPECT_EQ(socket4["address"], 0x1A7F);
  EXPECT_EQ(socket4["expected"], 0x3C);
  EXPECT_EQ(socket4["actual"], 0x38);
  EXPECT_EQ(socket4["text"], "Didn't Verify at 0x01A7F: expected 0x3C, read 0x38");
  EXPECT_EQ(document["operations"][0]["sockets"][0]["result"], "passed");
  EXPECT_EQ(document["exit_code"], 1);
  run({"verify", "-d", "27C256", "-n", "5", path("image.bin")});
  EXPECT_TRUE(says("socket 4: Didn't Verify at 0x01A7F: expected 0x3C, read 0x38"));
  EXPECT_TRUE(says("verify: 4 of 5 sockets passed"));
}

TEST_F(CliTest, ExitCodesTellWhatWentWrong) {
  EXPECT_EQ(run({"program", "-d", "27C256", "-n", "2", path("image.bin")}), 0);
  EXPECT_EQ(run({"blank", "-d", "27C256", "-n", "2"}), 1);  // programmed chips are not blank
  EXPECT_TRUE(says("socket 1: Is Not Blank at 0x00000: expected 0xFF"));

  write("bad.hex",
        ":10000000000102030405060708090A0B0C0D0E0F78\r\n"
        ":10001000101112131415161718191A1B1C1D1E1F68\r\nG1\r\n");
  EXPECT_EQ(run({"verify", "-d", "27C256", path("bad.hex")}), 2);
  EXPECT_TRUE(says("line 3")) << err_.str();
  EXPECT_EQ(run({"verify", "-d", "27C265", path("image.bin")}), 2);
  EXPECT_TRUE(says("27C256")) << err_.str();  // among the nearest names
  EXPECT_EQ(run({"verify", "-d", "27C256", path("missing.bin")}), 2);
  EXPECT_TRUE(says("File not found."));
  EXPECT_EQ(run({"verify", "-d", "27C256", "-n", "7", path("image.bin")}), 2);

  programmer_.setDeviceCount(0);
  EXPECT_EQ(run({"blank", "-d", "27C256"}), 3);
  EXPECT_TRUE(says("no programmer found"));
  programmer_.setDeviceCount(2);
  EXPECT_EQ(run({"blank", "-d", "27C256"}), 3);
  EXPECT_TRUE(says("--serial"));
  EXPECT_EQ(run({"blank", "-d", "27C256", "--serial", "VP000002"}), 1);

  programmer_.setDeviceCount(1);
  programmer_.setFirmwareVersion(1, 10);
  EXPECT_EQ(run({"blank", "-d", "27C256"}), 4);
  EXPECT_TRUE(says("older than 1.20"));
  const Bytes update = VirtualProgrammer::makeUpdateFile(3);
  write("update.bin", std::string(update.begin(), update.end()));
  EXPECT_EQ(run({"blank", "-d", "27C256", "--update-firmware", path("update.bin")}), 1);
  EXPECT_TRUE(says("Good Update..."));
  EXPECT_TRUE(says("firmware 1.20"));
}

// The cable pulled after `after` program block commands.
class UnpluggingProgrammer final : public ForwardingApi {
 public:
  UnpluggingProgrammer(VirtualProgrammer& programmer, int after)
      : ForwardingApi(programmer), programmer_(programmer), after_(after) {}
  FtStatus Write(FtHandle h, const void* b, std::uint32_t c, std::uint32_t* n) override {
    const FtStatus status = ForwardingApi::Write(h, b, c, n);
    if (c == 264 && static_cast<const std::uint8_t*>(b)[0] == 0x43 && --after_ == 0) {
      programmer_.setUnplugged(true);
    }
    return status;
  }

 private:
  VirtualProgrammer& programmer_;
  int after_;
};

TEST_F(CliTest, AProgrammerLostMidJobIsExitCodeThreeWithWhatWasDone) {
  UnpluggingProgrammer unplugging(programmer_, 12);
  const int code = run({"program", "-d", "27C256", "-n", "3", path("image.bin")}, &unplugging);
  EXPECT_EQ(code, 3);
  EXPECT_TRUE(says("Program Device (")) << out_.str();
  EXPECT_TRUE(says("socket 1: Stopped"));
  EXPECT_FALSE(says("OK"));
  EXPECT_FALSE(says("Verify Device"));  // no verify after the loss
}

TEST_F(CliTest, AFileThatLoadedWithNotesIsProgrammedOnlyWhenForced) {
  write("checksum.hex", ":10000000000102030405060708090A0B0C0D0E0F00\r\n");  // wrong checksum
  EXPECT_EQ(run({"program", "-d", "27C256", path("checksum.hex")}), 2);
  EXPECT_TRUE(says("--force"));
  EXPECT_TRUE(says("wrong checksum"));
  EXPECT_EQ(programmer_.packets().size(), 0u);  // refused before the programmer was reached
  EXPECT_EQ(run({"program", "-d", "27C256", path("checksum.hex"), "--force"}), 0);
}

TEST_F(CliTest, ReadConvertAndChecksumGoThroughTheWindowsLoadersAndSavers) {
  EXPECT_EQ(run({"program", "-d", "27C256", "-n", "1", path("image.bin")}), 0);
  EXPECT_EQ(run({"read", "-d", "27C256", path("back.s19")}), 0);
  EXPECT_TRUE(says("as srec (by the extension .s19)"));
  EXPECT_EQ(run({"convert", "-d", "27C256", path("back.s19"), path("back.bin")}), 0);
  std::ifstream back(path("back.bin"), std::ios::binary);
  EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(back), {}), image_);

  unsigned sum = 0;
  for (std::uint8_t byte : image_) sum += byte;
  const nlohmann::json document = runJson({"checksum", "-d", "27C256", path("back.s19")});
  char expected[5];
  std::snprintf(expected, sizeof expected, "%04X", sum & 0xFFFF);
  EXPECT_EQ(document["checksum"], expected);
  EXPECT_EQ(document["input"]["format"], "srec");
  EXPECT_EQ(document["input"]["format_chosen"], "by content");

  // Standard output holds the value alone, quiet or not, and the options every job takes may
  // come before the job, as a script writes them.
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"checksum", "-d", "27C256", path("back.s19")},
        std::vector<std::string>{"checksum", "-d", "27C256", path("back.s19"), "--quiet"},
        std::vector<std::string>{"--format", "srec", "--quiet", "checksum", "-d", "27C256",
                                 path("back.s19")}}) {
    EXPECT_EQ(run(arguments), 0) << err_.str();
    EXPECT_EQ(out_.str(), std::string("CheckSum=") + expected + "\n");
  }
}

TEST_F(CliTest, ListAndDevicesTellWhatThereIs) {
  const nlohmann::json programmers = runJson({"list"});
  ASSERT_EQ(programmers["programmers"].size(), 1u);
  EXPECT_EQ(programmers["programmers"][0]["serial"], "VP000001");
  EXPECT_EQ(programmers["programmers"][0]["firmware"], "1.20");
  // The listing as a user reads it, held to the types and figures their data sheets give; the
  // record names the same types in the same order.
  std::ifstream listing(std::string(TANDRA_TEST_DATA) + "/devices.txt");
  const std::string expected{std::istreambuf_iterator<char>(listing), {}};
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(run({"devices"}), 0);
  EXPECT_EQ(out_.str(), expected);
  std::istringstream lines(expected);
  std::string type;
  std::string rest;
  const nlohmann::json document = runJson({"devices"});
  for (const nlohmann::json& device : document["devices"]) {
    lines >> type;
    std::getline(lines, rest);
    EXPECT_EQ(device["type"], type);
  }
  EXPECT_FALSE(lines >> type) << type << " is listed, not recorded";
  EXPECT_EQ(run({"--version"}), 0);
  EXPECT_EQ(run({"frobnicate"}), 2);
}

// An option is taken only by the jobs that use it: given to another, before the job or after
// it, it is refused with the job's name and the option's, and the job does nothing.
TEST_F(CliTest, AnOptionTheJobDoesNotUseIsRefused) {
  const std::vector<std::string> checksum{"checksum", "-d", "27C256", path("image.bin")};
  const std::vector<std::string> blank{"blank", "-d", "27C256"};
  const std::vector<std::string> read{"read", "-d", "27C256", path("read.bin")};
  const std::vector<std::string> convert{"convert", "-d", "27C256", path("image.bin"),
                                         path("out.hex")};
  const std::vector<std::string> serial{"serial", path("ledger")};
  const struct {
    std::vector<std::string> job;
    std::vector<std::string> option;
    bool before;  // given before the job's word
  } rows[] = {
      {checksum, {"--pulse", "9"}, false},
      {checksum, {"--vpp", "25"}, false},
      {checksum, {"--vpp", "99"}, false},  // refused before its value is looked at
      {{"devices"}, {"--driver", "usb"}, false},
      {checksum, {"--serial", "X"}, false},
      {checksum, {"--update-firmware", "/nonexistent"}, false},
      {checksum, {"--virtual"}, false},
      {checksum, {"--driver", "virtual"}, true},
      {checksum, {"--out-format", "bin"}, false},
      {{"devices"}, {"--format", "srec"}, false},
      {{"devices"}, {"--fill", "12"}, false},
      {{"devices"}, {"--trace", path("t.trace")}, true},
      {{"list"}, {"--format", "bin"}, false},
      {{"list"}, {"--serial", "VP000001"}, false},
      {{"list"}, {"--pulse", "9"}, true},
      {{"doctor"}, {"--vpp", "21"}, false},
      {blank, {"--format", "srec"}, false},
      {blank, {"--fill", "00"}, true},
      {read, {"--fill", "00"}, false},
      {read, {"--out-format", "srec"}, false},
      {convert, {"--replay", path("t.trace")}, false},
      {convert, {"--full-waits"}, true},
      {serial, {"--virtual-state", path("state")}, false},
      // Options of other jobs alone.
      {checksum, {"--sn-start", "5"}, false},
      {{"devices"}, {"--force"}, false},
      {blank, {"--no-verify"}, false},
  };
  for (const auto& row : rows) {
    std::vector<std::string> arguments = row.before ? row.option : row.job;
    const std::vector<std::string>& rest = row.before ? row.job : row.option;
    arguments.insert(arguments.end(), rest.begin(), rest.end());
    const std::string line = row.job[0] + " " + row.option[0];
    EXPECT_EQ(run(arguments), 2) << line;
    EXPECT_TRUE(says("the " + row.job[0] + " job takes no " + row.option[0])) << line << err_.str();
    EXPECT_EQ(out_.str(), "") << line;
  }
  EXPECT_FALSE(std::filesystem::exists(path("out.hex")));
  EXPECT_FALSE(std::filesystem::exists(path("read.bin")));
  EXPECT_FALSE(std::filesystem::exists(path("t.trace")));
}

// The acceptance run is a type's evidence: every step on every socket in the report, the chips
// left holding the test pattern, and the trace it names by its digest.
TEST_F(CliTest, AnAcceptanceRunReportsEveryStepOnEverySocket) {
  ASSERT_EQ(run({"accept", "-d", "27C256", "-n", "5", "--virtual", "--report", path("report.json"),
                 "--trace", path("accept.trace")}),
            0)
      << err_.str();
  const nlohmann::json report = nlohmann::json::parse(std::ifstream(path("report.json")));
  EXPECT_EQ(report["type"], "27C256");
  EXPECT_EQ(report["data_sheet_vpp_mv"], 12750);
  EXPECT_EQ(report["programmer"]["firmware"], "1.20");
  EXPECT_EQ(report["sockets"], nlohmann::json({1, 2, 3, 4, 5}));
  EXPECT_EQ(report["passed"], true);
  const std::vector<std::string> steps{"blank check", "program", "verify", "read back",
                                       "program compare"};
  ASSERT_EQ(report["steps"].size(), steps.size());
  for (std::size_t step = 0; step < steps.size(); ++step) {
    SCOPED_TRACE(steps[step]);
    EXPECT_EQ(report["steps"][step]["step"], steps[step]);
    ASSERT_EQ(report["steps"][step]["sockets"].size(), 5U);
    for (const nlohmann::json& socket : report["steps"][step]["sockets"]) {
      EXPECT_EQ(socket["result"], "passed") << socket["text"];
    }
  }
  std::ifstream trace(path("accept.trace"), std::ios::binary);
  const std::string traced((std::istreambuf_iterator<char>(trace)), {});
  EXPECT_EQ(report["trace"]["sha256"], sha256Hex(traced));
  EXPECT_NE(traced.find(" fact exit 0"), std::string::npos);
  for (int socket = 1; socket <= 5; ++socket) {
    const auto& cells = programmer_.chip(socket).cells();
    for (std::int32_t address = 0; address < 0x8000; ++address) {
      ASSERT_EQ(cells[static_cast<std::size_t>(address)], acceptancePatternByte(address))
          << "socket " << socket << ", address " << address;
    }
  }
}

// A faulty chip fails the report where it fails, and the exit code says so; a maker's name is
// taken for its type.
TEST_F(CliTest, AFaultyChipFailsTheAcceptanceReport) {
  programmer_.chip(4).setStuckBit(0x1A7F, 2, false);
  EXPECT_EQ(run({"accept", "-d", "M27C256B-12F1", "-n", "5", "--virtual", "--report",
                 path("report.json"), "--trace", path("accept.trace")}),
            1);
  EXPECT_TRUE(says("M27C256B-12F1 is taken for the 27C256 (12.5 V)"));
  const nlohmann::json report = nlohmann::json::parse(std::ifstream(path("report.json")));
  EXPECT_EQ(report["type"], "27C256");
  EXPECT_EQ(report["passed"], false);
  EXPECT_EQ(report["exit_code"], 1);
  for (const nlohmann::json& step : report["steps"]) {
    SCOPED_TRACE(step["step"].get<std::string>());
    EXPECT_EQ(step["passed"], false);
    for (const nlohmann::json& socket : step["sockets"]) {
      EXPECT_EQ(socket["result"], socket["socket"] == 4 ? "failed" : "passed") << socket["text"];
    }
  }
  EXPECT_EQ(report["steps"][3]["sockets"][3]["text"],
            "Read back at 0x01A7F: expected 0x65, read 0x61");
}

}  // namespace
}  // namespace tandra::test
