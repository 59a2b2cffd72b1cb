// Production runs on the virtual programmer: different images per socket, split images, serial
// numbers, chosen sockets, sets one after another with counters and a log.
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

#include <csignal>

#include "BlockCommands.h"
#include "CliFixture.h"
#include "TestPipes.h"
#include "common/HexText.h"
#include "production/Digest.h"
#include "production/SerialLedger.h"

namespace tandra::test {
namespace {

class ProductionJobTest : public CliFixture {
 protected:
  std::vector<std::uint8_t> cells(int socket, std::size_t from, std::size_t count) {
    const auto& all = programmer_.chip(socket).cells();
    return {all.begin() + static_cast<std::ptrdiff_t>(from),
            all.begin() + static_cast<std::ptrdiff_t>(from + count)};
  }
  int commandsTo(int socket) const { return blocksToSocket(programmer_.packets(), socket); }
};

TEST_F(ProductionJobTest, EachSocketGetsItsOwnImageAndIsVerifiedAgainstIt) {
  std::vector<std::string> arguments = {"program", "-d", "27C256", "-n", "5"};
  for (int socket = 1; socket <= 5; ++socket) {
    const std::string name = "u" + std::to_string(socket) + ".bin";
    write(name, std::string(0x8000, static_cast<char>(0x80 + socket)));
    arguments.push_back("--socket-image");
    arguments.push_back(std::to_string(socket) + "=" + path(name));
  }
  const nlohmann::json document = runJson(arguments);
  EXPECT_EQ(code_, 0) << err_.str();
  for (int socket = 1; socket <= 5; ++socket) {
    EXPECT_EQ(cells(socket, 0x7FFF, 1)[0], 0x80 + socket) << socket;
    EXPECT_EQ(document["operations"][1]["sockets"][socket - 1]["image"],
              path("u" + std::to_string(socket) + ".bin"));
  }
  // Socket 2's chip holds socket 1's image: verified against its own, it fails.
  std::copy_n(programmer_.chip(1).cells().begin(), 0x8000, programmer_.chip(2).cells().begin());
  arguments[0] = "verify";
  run(arguments);
  EXPECT_TRUE(says("socket 2: Didn't Verify at 0x00000: expected 0x82, read 0x81")) << out_.str();
  EXPECT_TRUE(says("socket 3: Verified OK"));
}

TEST_F(ProductionJobTest, ASplitImageGoesLaneByLaneAndInterleavesBackToTheSource) {
  std::string bus(0x10000, '\0');
  for (std::size_t i = 0; i < bus.size(); ++i) bus[i] = static_cast<char>(i * 7 + (i >> 8));
  write("bus.bin", bus);
  EXPECT_EQ(run({"program", "-d", "27C256", "-n", "4", "--split", "2", path("bus.bin")}), 0)
      << err_.str();
  for (int set = 0; set < 2; ++set) {
    for (std::size_t i = 0; i < 0x8000; ++i) {
      ASSERT_EQ(programmer_.chip(2 * set + 1).cells()[i], static_cast<std::uint8_t>(bus[2 * i]));
      ASSERT_EQ(programmer_.chip(2 * set + 2).cells()[i],
                static_cast<std::uint8_t>(bus[2 * i + 1]));
    }
  }
  // The record's image is the whole file the lanes are taken from, not one chip's worth of it.
  const nlohmann::json whole =
      runJson({"verify", "-d", "27C256", "-n", "4", "--split", "2", path("bus.bin")});
  EXPECT_EQ(code_, 0) << err_.str();
  EXPECT_EQ(whole["image"]["size"], bus.size());
  EXPECT_EQ(whole["image"]["sha256"], sha256Hex(bus));
  EXPECT_EQ(whole["image"]["crc32"], crc32Hex(bus));
  unsigned sum = 0;
  for (const char byte : bus) sum += static_cast<std::uint8_t>(byte);
  EXPECT_EQ(whole["image"]["checksum"], hexText(sum & 0xFFFF, 4)) << "over the same bytes";
  write("odd.bin", bus.substr(0, 0x7FFF));  // not a whole number of 16-bit words
  EXPECT_EQ(run({"verify", "-d", "27C256", "-n", "2", "--split", "2", path("odd.bin")}), 1);
  EXPECT_TRUE(says("not a whole number of 2-byte words"));
  const nlohmann::json odd =
      runJson({"verify", "-d", "27C256", "-n", "2", "--split", "2", path("odd.bin")});
  EXPECT_EQ(odd["image"]["sha256"], sha256Hex(bus.substr(0, 0x7FFF)));
}

TEST_F(ProductionJobTest, SerialNumbersGoIntoEachChipInTheFormatAsked) {
  // The address and the first number as data sheets and scripts write them; a leading 0 is
  // not octal.
  const struct {
    const char* format;
    const char* at;
    const char* start;
    std::vector<std::uint8_t> socket3;  // serial number 1002
  } formats[] = {{"le", "7FF0", "1000", {0xEA, 0x03, 0x00, 0x00}},
                 {"bcd", "0x7FF0", "0x3E8", {0x00, 0x00, 0x10, 0x02}},
                 {"ascii", "0X7ff0", "01000", {'0', '0', '0', '0', '1', '0', '0', '2'}}};
  // The number goes where the file leaves room: past its end.
  std::fill(image_.begin() + 0x7FF0, image_.end(), 0xFF);
  write("image.bin", std::string(image_.begin(), image_.begin() + 0x7FF0));
  for (const auto& f : formats) {
    for (int s = 1; s <= 5; ++s) programmer_.chip(s).erase();
    const nlohmann::json document =
        runJson({"program", "-d", "27C256", "-n", "5", path("image.bin"), "--sn-at", f.at,
                 "--sn-start", f.start, "--sn-format", f.format});
    ASSERT_EQ(code_, 0) << f.format << document["error"];
    EXPECT_EQ(cells(3, 0x7FF0, f.socket3.size()), f.socket3) << f.format;
    for (int s = 1; s <= 5; ++s) {
      // As text, as the log has it: a reader that takes numbers as doubles would round them.
      EXPECT_EQ(document["operations"][1]["sockets"][s - 1]["serial_number"],
                std::to_string(999 + s));
    }
    EXPECT_EQ(cells(1, 0, 16), std::vector<std::uint8_t>(image_.begin(), image_.begin() + 16));
  }
}

// Sets one after another, as a line runs them: this driver puts in a new set of blank chips
// when the next set starts, with a worn socket 3 in the second one.
class ChipChanger final : public ForwardingApi {
 public:
  ChipChanger(VirtualProgrammer& programmer, std::uint32_t wornAddress, int wornBit)
      : ForwardingApi(programmer), programmer_(programmer), address_(wornAddress), bit_(wornBit) {}
  FtStatus Write(FtHandle h, const void* b, std::uint32_t c, std::uint32_t* n) override {
    const auto* packet = static_cast<const std::uint8_t*>(b);
    // Each set reads its chips twice (Program Compare, then Verify): its first read set-up
    // is the one after an even number of them.
    if (c == 8 && packet[0] == 0x92 && packet[4] == 0xED && readSetUps_++ % 2 == 0 &&
        readSetUps_ > 1) {
      for (int s = 1; s <= 5; ++s) programmer_.socket(s).emplace();  // new blank chips
      if (readSetUps_ == 3) programmer_.chip(3).setStuckBit(address_, bit_, false);
    }
    return ForwardingApi::Write(h, b, c, n);
  }

 private:
  VirtualProgrammer& programmer_;
  std::uint32_t address_;
  int bit_;
  int readSetUps_ = 0;
};

TEST_F(ProductionJobTest, ALinesLoopCountsSetsNumbersChipsAndLogsEachSocket) {
  int bit = 0;
  while ((image_[0x100] >> bit & 1) == 0) ++bit;  // a bit the image needs at 1
  // The file ends where the number goes: a file's own bytes are not written over.
  std::fill(image_.begin() + 0x7FF0, image_.end(), 0xFF);
  write("image.bin", std::string(image_.begin(), image_.begin() + 0x7FF0));
  ChipChanger changer(programmer_, 0x100, bit);
  int keys[2];
  ASSERT_EQ(openPipe(keys), 0);
  ASSERT_EQ(::write(keys[1], "\n\nq\n", 4), 4);
  ::close(keys[1]);
  out_.str("");
  cli::CliIo io(out_, err_);
  io.driver = &changer;
  io.inputDescriptor = keys[0];
  const int code =
      cli::runCli({"program", "-d", "27C256", "-n", "5", path("image.bin"), "--repeat", "--sn-at",
                   "7FF0", "--sn-start", "1000", "--log", path("line.log"), "--quiet"},
                  io);
  ::close(keys[0]);
  EXPECT_EQ(code, 1);  // one chip of the three sets failed
  EXPECT_TRUE(
      says("Set 2 done: 4 passed. Change all five chips (socket 3 failed: put it aside), "
           "then Enter; q ends. Next serial numbers: 1010, 1011, 1012, 1013, 1014."))
      << err_.str();
  EXPECT_TRUE(says("chips: 14 passed, 1 failed; yield 93.3 %")) << err_.str();
  EXPECT_TRUE(says("3: 2 passed, 1 failed")) << "a worn socket shows";
  EXPECT_TRUE(says("program: 14 of 15 chips passed in 3 sets")) << out_.str();

  std::ifstream log(path("line.log"));
  std::vector<nlohmann::json> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(lines.size(), 15u);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const int set = static_cast<int>(i / 5) + 1;
    const int socket = static_cast<int>(i % 5) + 1;
    EXPECT_EQ(lines[i]["set"], set);
    EXPECT_EQ(lines[i]["socket"], socket);
    EXPECT_EQ(lines[i]["serial_number"], std::to_string(1000 + 5 * (set - 1) + socket - 1));
    EXPECT_EQ(lines[i]["result"], set == 2 && socket == 3 ? "failed" : "passed") << i;
    EXPECT_EQ(lines[i]["image"]["sha256"].get<std::string>().size(), 64u);
  }
  EXPECT_EQ(lines[7]["text"].get<std::string>().substr(0, 18), "Can`t Be Programed");
  EXPECT_EQ(lines[7]["address"], 0x100);
}

// Standard error that answers the prompt between sets, as an operator at a terminal would.
class Answering final : public std::stringbuf {
 public:
  explicit Answering(int terminal) : terminal_(terminal) {}

 protected:
  int sync() override {
    if (str().find("then Enter") != std::string::npos && !answered_) {
      answered_ = ::write(terminal_, "q\n", 2) == 2;
    }
    return 0;
  }

 private:
  int terminal_;
  bool answered_ = false;
};

TEST_F(ProductionJobTest, OnlyEnterStartsTheNextSet) {
  // Answers that are neither Enter nor q ask again; Enter goes on; the end of the input ends.
  int keys[2];
  ASSERT_EQ(openPipe(keys), 0);
  ASSERT_EQ(::write(keys[1], "x\nquit\n q\n\n", 11), 11);
  ::close(keys[1]);
  cli::CliIo io(out_, err_);
  io.driver = &programmer_;
  io.inputDescriptor = keys[0];
  EXPECT_EQ(cli::runCli({"program", "-d", "27C256", path("image.bin"), "--repeat"}, io), 0);
  ::close(keys[0]);
  std::size_t again = 0;
  for (std::size_t at = 0;
       (at = err_.str().find("Enter starts the next set", at)) != std::string::npos; ++at) {
    ++again;
  }
  EXPECT_EQ(again, 3u) << err_.str();
  EXPECT_TRUE(says("program: 2 of 2 chips passed in 2 sets")) << out_.str();
}

// At a terminal, an Enter pressed while the set ran is no answer to the question after it.
TEST_F(ProductionJobTest, AtATerminalKeysTypedWhileASetRunsAreNoAnswer) {
#if defined(_WIN32)
  GTEST_SKIP() << "a pseudo-terminal is a POSIX system's: on Windows the console is not emptied "
                  "before the question";
#else
  const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(::grantpt(terminal), 0);
  ASSERT_EQ(::unlockpt(terminal), 0);
  const int keyboard = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY);
  ASSERT_GE(keyboard, 0);
  ASSERT_EQ(::write(terminal, "\n", 1), 1);  // typed ahead
  Answering answering(terminal);
  std::ostream err(&answering);
  out_.str("");
  cli::CliIo atTerminal(out_, err);
  atTerminal.driver = &programmer_;
  atTerminal.inputDescriptor = keyboard;
  EXPECT_EQ(cli::runCli({"program", "-d", "27C256", path("image.bin"), "--repeat"}, atTerminal), 0);
  ::close(keyboard);
  ::close(terminal);
  EXPECT_NE(answering.str().find("program: 1 of 1 sockets passed"), std::string::npos)
      << answering.str();
#endif
}

TEST_F(ProductionJobTest, SocketsLeftOutAreSentNothingAndReportedSkipped) {
  const nlohmann::json document =
      runJson({"program", "-d", "27C256", "--sockets", "1,3,5", path("image.bin")});
  EXPECT_EQ(code_, 0) << err_.str();
  EXPECT_EQ(commandsTo(2), 0);
  EXPECT_EQ(commandsTo(4), 0);
  EXPECT_GT(commandsTo(3), 0);
  EXPECT_EQ(document["skipped"], (nlohmann::json{2, 4}));
  for (const auto& operation : document["operations"]) {
    EXPECT_EQ(operation["sockets"][1]["result"], "skipped");
    EXPECT_EQ(operation["sockets"][3]["result"], "skipped");
  }
  EXPECT_TRUE(chipHoldsTheImage(5));
  EXPECT_EQ(programmer_.chip(2).cells()[0], 0xFF);
  // The closing line counts the sockets that were judged: one left out has not failed.
  EXPECT_EQ(run({"program", "-d", "27C256", "--sockets", "1,3,5", path("image.bin")}), 0);
  EXPECT_TRUE(says("program: 3 of 3 sockets passed")) << out_.str();
}

// Each of these would program chips with an image the operator did not ask for, or give two
// chips one number: refused with a message before the programmer is reached.
TEST_F(ProductionJobTest, OptionsThatCannotBeHonouredAreRefusedBeforeAnyChipIsTouched) {
  write("u2.bin", std::string(0x8000, '\x22'));
  write("room.hex", ":0400000001020304F2\r\n:00000001FF\r\n");    // sets 0x00 to 0x03 alone
  write("erased.hex", ":04001000FFFFFFFFF0\r\n:00000001FF\r\n");  // sets 0x10 to 0x13 to FF
  const std::string image = path("image.bin"), u2 = path("u2.bin"), room = path("room.hex");
  const std::string ledger = path("le.ledger");
  ASSERT_EQ(run({"serial", ledger, "--sn-start", "1"}), 0) << err_.str();
  const struct {
    std::vector<std::string> arguments;  // after "-d 27C256"
    const char* says;
  } refused[] = {
      {{"program", "-n", "2", "--split", "2"}, "--split 2 takes its lanes from a file"},
      {{"verify", "-n", "2", "--split", "2"}, "--split 2 takes its lanes from a file"},
      {{"program", "-n", "2", "--split", "2", image, "--socket-image", "1=" + u2},
       "--split gives every socket its lane"},
      {{"program", "-n", "2", image, "--socket-image", "2=" + u2, "--socket-image", "2=" + image},
       "socket 2 is given two images"},
      {{"program", "-n", "3", image, "--socket-image", "4=" + u2},
       "socket 4 has an image but is not in use"},
      {{"program", "-n", "2", image, "--sn-at", "100"},
       "would replace bytes socket 1's image sets"},
      {{"program", "-n", "2", u2, "--sn-at", "800007F0"}, "runs past the device end (0x7FFF)"},
      {{"program", "-n", "2", u2, "--sn-at", "7FFE", "--fill", "22"},
       "--sn-at 7FFE: a 4-byte number at 0x7FFE runs past the device end (0x7FFF)"},
      {{"program", "-n", "1", path("erased.hex"), "--sn-at", "10"},
       "would replace bytes socket 1's image sets there"},
      {{"program", "-n", "2", room, "--sn-at", "10", "--sn-step", "0"},
       "--sn-step 0 would give every chip the same number"},
      {{"program", "-n", "2", room, "--sn-at", "10", "--sn-step", "0", "--sn-format", "ascii"},
       "--sn-step 0 would give every chip the same number"},
      {{"program", "-n", "2", room, "--sn-at", "10", "--sn-step", "-1"},
       "--sn-step wants a whole number"},
      {{"program", "-n", "2", room, "--sn-at", "0x"}, "--sn-at wants a hexadecimal number"},
      {{"program", "-n", "2", room, "--sn-at", "10", "--sn-start", "18446744073709551616"},
       "larger than 64 bits"},
      {{"program", "-n", "5", room, "--sn-at", "10", "--sn-width", "8", "--sn-start",
        "18446744073709551613"},
       "the serial numbers have run out"},
      {{"program", "-n", "2", u2, "--sn-start", "5"}, "--sn-start numbers the chips at --sn-at"},
      {{"program", "-n", "2", room, "--sn-at", "10", "--sn-width", "0"},
       "--sn-width wants 1 to 20 bytes"},
      // A ledger says how its numbers are written: an option that says otherwise is refused.
      {{"program", "-n", "2", room, "--sn-at", "10", "--sn-ledger", ledger, "--sn-format", "bcd"},
       "--sn-format is the ledger's to say"},
      {{"program", "-n", "2", room, "--sn-at", "10", "--sn-ledger", ledger, "--sn-width", "2"},
       "--sn-width is the ledger's to say"},
      {{"program", "-n", "2", room, "--sn-at", "10", "--sn-ledger", ledger, "--sn-step", "3"},
       "--sn-step is the ledger's to say"},
  };
  for (const auto& r : refused) {
    std::vector<std::string> arguments = r.arguments;
    arguments.insert(arguments.begin() + 1, {"-d", "27C256"});
    SCOPED_TRACE(arguments.back());
    programmer_.clearPackets();
    EXPECT_EQ(run(arguments), 2) << out_.str();
    EXPECT_TRUE(says(r.says)) << err_.str();
    EXPECT_TRUE(programmer_.packets().empty()) << "the programmer is not even looked for";
  }
  // A number over bytes the image sets goes there only when forced; one that says what the
  // ledger says is no contradiction.
  EXPECT_EQ(run({"program", "-d", "27C256", "-n", "1", image, "--sn-at", "100", "--force"}), 0)
      << err_.str();
  programmer_.chip(1).erase();
  EXPECT_EQ(run({"program", "-d", "27C256", "-n", "1", room, "--sn-at", "10", "--sn-ledger", ledger,
                 "--sn-format", "le", "--sn-width", "4", "--sn-step", "1"}),
            0)
      << err_.str();
  EXPECT_EQ(cells(1, 0x10, 4), (std::vector<std::uint8_t>{1, 0, 0, 0}));
}

TEST_F(ProductionJobTest, ASocketsImageIsReadInTheFormatAskedAndSaysHow) {
  // Hex digits, given as binary: their characters are the image, not the bytes they spell.
  write("digits.bin", std::string(0x8000, 'A'));
  write("u2.hex", ":0400000001020304F2\r\n:00000001FF\r\n");
  EXPECT_EQ(run({"program", "-d", "27C256", "-n", "2", "--format", "bin", "--socket-image",
                 "1=" + path("digits.bin"), "--socket-image", "2=intel:" + path("u2.hex")}),
            0)
      << err_.str();
  EXPECT_EQ(cells(1, 0, 2), (std::vector<std::uint8_t>{'A', 'A'}));
  EXPECT_EQ(cells(2, 0, 5), (std::vector<std::uint8_t>{1, 2, 3, 4, 0xFF}));
  EXPECT_TRUE(says("socket 1: reading " + path("digits.bin") + " as bin")) << err_.str();
  EXPECT_TRUE(says("socket 2: reading " + path("u2.hex") + " as intel")) << err_.str();
}

// Standard output that takes nothing, as a reader that went away or a full disk.
class DeadOutput final : public std::streambuf {
 protected:
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
  int_type overflow(int_type) override { return traits_type::eof(); }
};

std::vector<nlohmann::json> logLines(const std::string& path) {
  std::vector<nlohmann::json> lines;
  std::ifstream log(path);
  for (std::string line; std::getline(log, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

// A line's database hands out serial numbers by the log: no chip that was touched may be missing
// from it, whatever happens to the program's other outputs or to the log itself.
TEST_F(ProductionJobTest, NoChipThatWasTouchedIsMissingFromTheLogOrUnnamed) {
  // The file ends where the number goes: a file's own bytes are not written over.
  std::fill(image_.begin() + 0x7FF0, image_.end(), 0xFF);
  write("image.bin", std::string(image_.begin(), image_.begin() + 0x7FF0));
  const std::vector<std::string> job = {
      "program", "-d",   "27C256",     "-n", "2",    path("image.bin"),
      "--sn-at", "7FF0", "--sn-start", "77", "--log"};
  // A log that cannot be written is found before the programmer is looked for: in a folder that
  // is not there, or on a device that takes nothing (Linux's /dev/full; Windows has none).
  std::vector<std::string> unwritable = {path("no/such/folder/x.jsonl")};
#if !defined(_WIN32)
  unwritable.push_back("/dev/full");
#endif
  for (const std::string& log : unwritable) {
    std::vector<std::string> arguments = job;
    arguments.push_back(log);
    programmer_.clearPackets();
    EXPECT_EQ(run(arguments), 2) << log;
    EXPECT_TRUE(says("the log " + log + " cannot be")) << err_.str();
    EXPECT_TRUE(programmer_.packets().empty()) << log;
  }
  // Standard output that fails after the first line: the reader gone (a stop) or a full disk.
  for (const int error : {EPIPE, ENOSPC}) {
    SCOPED_TRACE(error);
    std::filesystem::remove(path("line.log"));
    for (int s = 1; s <= 2; ++s) programmer_.chip(s).erase();
    DeadOutput dead;
    std::ostream out(&dead);
    cli::CliIo io(out, err_);
    io.driver = &programmer_;
    io.outError = [error] { return error; };
    std::vector<std::string> arguments = job;
    arguments.push_back(path("line.log"));
    EXPECT_EQ(cli::runCli(arguments, io), error == EPIPE ? 141 : 2);
    const std::vector<nlohmann::json> lines = logLines(path("line.log"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["serial_number"], "77");
    EXPECT_EQ(lines[1]["serial_number"], "78");
    // A reader gone stops the job before Verify; a full disk loses the record, not the chips.
    for (const auto& line : lines) EXPECT_EQ(line["result"], error == EPIPE ? "stopped" : "passed");
  }
}

// A cut line an earlier run left is ended; a log that fills names the chips it lacks.
TEST_F(ProductionJobTest, ALogThatFillsNamesTheChipsItLacks) {
#if defined(_WIN32)
  GTEST_SKIP() << "a full disk is made with a limit on a file's size, which Windows lacks";
#else
  // The file ends where the number goes: a file's own bytes are not written over.
  std::fill(image_.begin() + 0x7FF0, image_.end(), 0xFF);
  write("image.bin", std::string(image_.begin(), image_.begin() + 0x7FF0));
  const std::vector<std::string> job = {
      "program", "-d",   "27C256",     "-n", "2",    path("image.bin"),
      "--sn-at", "7FF0", "--sn-start", "77", "--log"};
  write("line.log", "{\"set\": 1, \"soc");
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit before{};
  ::getrlimit(RLIMIT_FSIZE, &before);
  rlimit room = before;
  room.rlim_cur = 700;  // the ended line and about one chip's
  ::setrlimit(RLIMIT_FSIZE, &room);
  std::vector<std::string> arguments = job;
  arguments.push_back(path("line.log"));
  const nlohmann::json document = runJson(arguments);
  ::setrlimit(RLIMIT_FSIZE, &before);
  EXPECT_EQ(code_, 2);
  EXPECT_TRUE(says("cut short by an earlier run")) << err_.str();
  EXPECT_NE(document["error"].get<std::string>().find("not in it: set 1 socket 2 (serial 78)"),
            std::string::npos)
      << document["error"];
  EXPECT_EQ(document["log"]["missing"],
            (nlohmann::json::array({{{"set", 1}, {"socket", 2}, {"serial_number", "78"}}})));
  EXPECT_EQ(document["chips"][1]["result"], "failed") << "a chip not in the log did not pass";
  std::ifstream log(path("line.log"));
  std::string first, second;
  std::getline(log, first);
  std::getline(log, second);
  EXPECT_EQ(first, "{\"set\": 1, \"soc");
  EXPECT_EQ(nlohmann::json::parse(second)["socket"], 1);
  // What went out of the line that did not fit is taken back: cut at its newline, it would
  // read as a whole line that says the chip passed.
  std::string rest;
  EXPECT_FALSE(std::getline(log, rest)) << rest;
#endif
}

TEST_F(ProductionJobTest, ALedgerHandsOutEachNumberOnceAcrossRunsAndSaysWhichHaveNoPassedChip) {
  // The file ends where the number goes: a file's own bytes are not written over.
  std::fill(image_.begin() + 0x7FF0, image_.end(), 0xFF);
  write("image.bin", std::string(image_.begin(), image_.begin() + 0x7FF0));
  const std::string ledger = path("line.ledger");
  EXPECT_EQ(run({"serial", ledger, "--sn-start", "5000", "--sn-step", "2"}), 0) << err_.str();
  EXPECT_EQ(run({"serial", ledger, "--sn-start", "1"}), 2) << "a ledger is not started twice";
  // Two runs, one set each; the second's socket 2 fails and its number is spent.
  for (int runs = 0; runs < 2; ++runs) {
    for (int s = 1; s <= 3; ++s) programmer_.insertChip(s, "27C256");
    if (runs == 1) programmer_.removeChip(2);
    run({"program", "-d", "27C256", "-n", "3", path("image.bin"), "--sn-at", "7FF0", "--sn-ledger",
         ledger, "--log", path("line.log"), "--log-format", "csv"});
  }
  EXPECT_EQ(SerialLedger::read(ledger).next, 5012u);
  std::ifstream csv(path("line.log"));
  std::vector<std::string> rows;
  for (std::string row; std::getline(csv, row);) rows.push_back(row);
  ASSERT_EQ(rows.size(), 7u) << "a header and six chips";
  EXPECT_EQ(rows[0].substr(0, 30), "schema,run_id,time,host,set,so");
  EXPECT_NE(rows[5].find(",5008,failed,"), std::string::npos) << rows[5];
  // Lines another program added, with something else where a number belongs, count for nothing.
  std::ofstream(path("line.log"), std::ios::app)
      << "{\"result\": \"passed\", \"serial_number\": \"n/a\"}\n"
      << "1,x,t,h,1,1,p,d,i,s,99999999999999999999999,passed\n";
  EXPECT_EQ(run({"serial", ledger, "--log", path("line.log")}), 0) << err_.str();
  EXPECT_EQ(out_.str(), "5008\n") << "only the failed chip's number has no pass";
  // The ledger says how numbers are written: the options may not say otherwise.
  EXPECT_EQ(run({"program", "-d", "27C256", path("image.bin"), "--sn-at", "7FF0", "--sn-ledger",
                 ledger, "--sn-start", "1"}),
            2);
}

TEST_F(ProductionJobTest, ABoardOfASplitImageGetsOneNumberAtItsBusAddress) {
  write("bus.bin", std::string(0xFFE0, '\x5A'));  // the bus's last 32 bytes are left to the number
  EXPECT_EQ(run({"program", "-d", "27C256", "-n", "4", "--split", "2", path("bus.bin"), "--sn-per",
                 "board", "--sn-at", "FFE0", "--sn-start", "305419896"}),
            0)
      << err_.str();
  // 0x12345678 little-endian at bus 0xFFE0: the even bytes in lane 1, the odd ones in lane 2.
  EXPECT_EQ(cells(1, 0x7FF0, 2), (std::vector<std::uint8_t>{0x78, 0x34}));
  EXPECT_EQ(cells(2, 0x7FF0, 2), (std::vector<std::uint8_t>{0x56, 0x12}));
  EXPECT_EQ(cells(3, 0x7FF0, 2), (std::vector<std::uint8_t>{0x79, 0x34})) << "the next board";
  EXPECT_EQ(run({"program", "-d", "27C256", "-n", "2", path("bus.bin"), "--sn-per", "board",
                 "--sn-at", "FFE0"}),
            2)
      << "a number per board wants --split";
}

TEST_F(ProductionJobTest, WhatTheImageLeavesOpenIsAnErasedByteAndTheVoltageIsTheTypes) {
  write("two.hex", ":020010001122BB\r\n:00000001FF\r\n");
  const nlohmann::json document =
      runJson({"program", "-d", "2716", path("two.hex"), "--fill", "0xff"});
  EXPECT_EQ(code_, 0) << err_.str();
  EXPECT_EQ(document["fill"], "FF");
  EXPECT_EQ(cells(1, 0x0F, 4), (std::vector<std::uint8_t>{0xFF, 0x11, 0x22, 0xFF}));
  // A 27C256 is programmed at 12.5 V: 21 V is refused unless forced.
  EXPECT_EQ(run({"program", "-d", "27C256", path("image.bin"), "--vpp", "21"}), 2);
  EXPECT_TRUE(says("programmed at 12.5 V, not 21 V"));
  EXPECT_TRUE(programmer_.packets().empty() || programmer_.packets().back()[0] != 0x43);
}

}  // namespace
}  // namespace tandra::test
