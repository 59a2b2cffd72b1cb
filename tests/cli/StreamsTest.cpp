// Images that come through a pipe are read once and whole, and a record is complete and
// parseable whatever the job met.
#include <fcntl.h>
#include <sys/stat.h>

#include <thread>

#include "CliFixture.h"
#include "TestPipes.h"

namespace tandra::test {
namespace {

// Writes `bytes` into a pipe's write end from another thread, as a program upstream would.
class Feeder {
 public:
  Feeder(std::string bytes, std::function<int()> openWriteEnd)
      : thread_([bytes = std::move(bytes), openWriteEnd] {
          const int fd = openWriteEnd();
          for (std::size_t done = 0; fd >= 0 && done < bytes.size();) {
            const long n = writeSome(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
          }
          if (fd >= 0) ::close(fd);
        }) {}
  ~Feeder() { thread_.join(); }

 private:
  std::thread thread_;
};

enum class Way { File, NamedPipe, StandardInput };
struct Source {
  const char* name;
  Way way;
  bool hex;
};

class PipedImageTest : public CliFixture, public ::testing::WithParamInterface<Source> {};

// A pipe gives its bytes once: what chooses the format must not take them from the load.
TEST_P(PipedImageTest, ProgramsTheWholeImage) {
  const Source& source = GetParam();
  ASSERT_EQ(run({"convert", "-d", "27C256", path("image.bin"), path("image.hex")}), 0);
  std::ifstream file(path(source.hex ? "image.hex" : "image.bin"), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), {});
  std::string name = path(source.hex ? "image.hex" : "image.bin");
  std::unique_ptr<Feeder> feeder;
  int readEnd = -1;
  if (source.way == Way::NamedPipe) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows keeps no named pipes in its folders";
#else
    name = path("fifo");
    ASSERT_EQ(::mkfifo(name.c_str(), 0600), 0);
    feeder = std::make_unique<Feeder>(bytes, [name] { return ::open(name.c_str(), O_WRONLY); });
#endif
  } else if (source.way == Way::StandardInput) {
    int ends[2];
    ASSERT_EQ(openPipe(ends), 0);
    readEnd = ends[0];
    feeder = std::make_unique<Feeder>(bytes, [end = ends[1]] { return end; });
    name = "-";
  }
  out_.str("");
  cli::CliIo io(out_, err_);
  io.driver = &programmer_;
  io.inputDescriptor = readEnd;
  EXPECT_EQ(cli::runCli({"program", "-d", "27C256", name}, io), 0) << err_.str();
  feeder.reset();
  if (readEnd >= 0) ::close(readEnd);
  EXPECT_TRUE(chipHoldsTheImage(1));
}

INSTANTIATE_TEST_SUITE_P(Ways, PipedImageTest,
                         ::testing::Values(Source{"BinaryFile", Way::File, false},
                                           Source{"BinaryNamedPipe", Way::NamedPipe, false},
                                           Source{"BinaryStandardInput", Way::StandardInput, false},
                                           Source{"IntelFile", Way::File, true},
                                           Source{"IntelNamedPipe", Way::NamedPipe, true},
                                           Source{"IntelStandardInput", Way::StandardInput, true}),
                         [](const auto& test) { return std::string(test.param.name); });

class RecordTest : public CliFixture {
 protected:
  // The names of every key, nested ones as "input.path", of the objects a record holds.
  static std::set<std::string> keys(const nlohmann::json& value, const std::string& prefix = "") {
    std::set<std::string> names;
    if (!value.is_object()) return names;
    for (const auto& [key, inner] : value.items()) {
      names.insert(prefix + key);
      for (const std::string& name : keys(inner, prefix + key + ".")) names.insert(name);
    }
    return names;
  }
};

TEST_F(RecordTest, NamesThatAreNotUtf8GiveARecordOfTheSameShape) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows names files in UTF-16: every name reaches the program as UTF-8";
#endif
  const nlohmann::json clean = runJson({"checksum", "-d", "27C256", path("image.bin")});
  const std::string odd = path("image\xff\xfe.bin");
  std::filesystem::copy_file(path("image.bin"), odd);
  const nlohmann::json named = runJson({"checksum", "-d", "27C256", odd});
  EXPECT_EQ(code_, 0);
  EXPECT_EQ(keys(named), keys(clean));
  EXPECT_EQ(named["image"]["sha256"], clean["image"]["sha256"]);
  EXPECT_NE(named["input"]["path"].get<std::string>().find("\xEF\xBF\xBD"), std::string::npos)
      << "the bytes that are not UTF-8 stand replaced";
  // ... and the name is kept exact beside it.
  std::string bytes;
  for (unsigned char c : odd)
    bytes += "0123456789abcdef"[c >> 4], bytes += "0123456789abcdef"[c & 15];
  EXPECT_EQ(named["input"]["path_bytes"], bytes);
  EXPECT_TRUE(clean["input"]["path_bytes"].is_null());
  const nlohmann::json converted =
      runJson({"convert", "-d", "27C256", path("image.bin"), path("out\xff.hex")});
  EXPECT_TRUE(converted["output"]["path_bytes"].get<std::string>().ends_with("6f7574ff2e686578"))
      << converted["output"];
  // A message names the file on one line, each odd byte as itself.
  run({"checksum", "-d", "27C256", path("no\nsuch\xff.bin")});
  EXPECT_TRUE(says("(" + path("no\\nsuch\\xFF.bin") + ")")) << err_.str();

  const nlohmann::json word = runJson({"verify", "-d", "27C\xff", path("image.bin")});
  EXPECT_EQ(code_, 2);
  EXPECT_EQ(word["exit_code"], 2);
  EXPECT_TRUE(word["error"].is_string());
  EXPECT_EQ(word.size(), clean.size());
}

TEST_F(RecordTest, TellsWhatATraceabilityRecordNeeds) {
  programmer_.chip(4).setStuckBit(0x1A7F, 2, false);
  const nlohmann::json document = runJson(
      {"program", "-d", "27C256", "-n", "5", path("image.bin"), "--pulse", "7", "--no-check"});
  EXPECT_EQ(code_, 1);
  EXPECT_EQ(document["schema"], 3);
  EXPECT_EQ(document["device"], "27C256");
  EXPECT_EQ(document["pulse_width"], 7);
  EXPECT_EQ(document["vpp"], "12.5");
  EXPECT_EQ(document["programmer"]["serial"], "VP000001");
  EXPECT_EQ(document["programmer"]["firmware"], "1.20");
  EXPECT_TRUE(std::filesystem::u8path(document["input"]["path"].get<std::string>()).is_absolute());
  EXPECT_EQ(document["image"]["size"], 0x8000);
  EXPECT_EQ(document["image"]["crc32"].get<std::string>().size(), 8u);
  EXPECT_EQ(document["image"]["sha256"].get<std::string>().size(), 64u);
  EXPECT_EQ(document["started"].get<std::string>().size(), 25u);  // 2026-12-08T14:04:06+01:00
  ASSERT_EQ(document["operations"].size(), 2u);
  EXPECT_EQ(document["operations"][1]["sockets"][3]["address"], 0x1A7F);
  EXPECT_TRUE(document["operations"][1]["sockets"][0]["address"].is_null());

  run({"program", "-d", "27C256", "-n", "5", path("image.bin")});
  // Program took every page, Verify found socket 4's bit: it is not counted as passed.
  EXPECT_TRUE(says("program: 4 of 5 sockets passed")) << out_.str();
}

TEST_F(RecordTest, AFileThatDidNotLoadCleanlyIsNeitherVerifiedNorComparedUnlessForced) {
  write("checksum.hex", ":10000000000102030405060708090A0B0C0D0E0F00\r\n");  // wrong checksum
  // Forced, blank chips differ from the file but can all still take it.
  for (const auto& [job, forced] : {std::pair{"verify", 1}, std::pair{"compare", 0}}) {
    EXPECT_EQ(run({job, "-d", "27C256", path("checksum.hex"), "--quiet"}), 2) << job;
    EXPECT_TRUE(says("wrong checksum")) << "--quiet does not hide why";
    EXPECT_TRUE(programmer_.packets().empty());
    EXPECT_EQ(run({job, "-d", "27C256", path("checksum.hex"), "--force", "--quiet"}), forced);
    EXPECT_TRUE(says("wrong checksum")) << "the warning stands with --force too";
    programmer_.clearPackets();
  }
}

TEST_F(RecordTest, NoProgrammerOrTheWrongOneIsExitCodeThreeWithWhatThereIs) {
  programmer_.setDeviceCount(0);
  EXPECT_EQ(run({"list"}), 3);
  programmer_.setDeviceCount(2);
  EXPECT_EQ(run({"blank", "-d", "27C256", "--serial", "NOPE"}), 3);
  EXPECT_TRUE(says("VP000001, VP000002")) << err_.str();
}

}  // namespace
}  // namespace tandra::test
