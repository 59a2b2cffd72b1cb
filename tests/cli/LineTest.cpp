// What a production line keeps from one run to the next: the serial number ledger its runs take
// their numbers from, and the log. A number stays on one chip: it comes back only from a chip
// its stamp never reached, a refused run spends none, the numbers a prompt names are the ones
// its set gets, and a ledger set back by hand or older than the log is refused by its line.
#if !defined(_WIN32)
#include <sys/resource.h>
#endif
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>

#include "CliFixture.h"
#include "TestPipes.h"
#include "production/SerialLedger.h"

namespace tandra::test {
namespace {

class LineTest : public CliFixture {
 protected:
  LineTest() {
    // The file ends where the number goes: what it does not set is the erased fill.
    std::fill(image_.begin() + 0x7FF0, image_.end(), 0xFF);
    write("image.bin", std::string(image_.begin(), image_.begin() + 0x7FF0));
  }
  // tandra-cli program on `sockets` sockets, numbered from the ledger at 0x7FF0 and logged.
  std::vector<std::string> job(int sockets) const {
    return {"program",
            "-d",
            "27C256",
            "-n",
            std::to_string(sockets),
            path("image.bin"),
            "--sn-at",
            "7FF0",
            "--sn-ledger",
            ledger_,
            "--log",
            path("line.log")};
  }
  std::string contents(const std::string& file) const {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  // The serial numbers of the log's lines from `first` on, as they stand there.
  std::vector<std::string> loggedNumbers(std::size_t first = 0) const {
    std::vector<std::string> numbers;
    std::ifstream log(path("line.log"));
    std::size_t line = 0;
    for (std::string text; std::getline(log, text); ++line) {
      if (line >= first) numbers.push_back(nlohmann::json::parse(text)["serial_number"]);
    }
    return numbers;
  }
  // A bit of the image's byte at `address` that holds `value`.
  int bitOf(std::int32_t address, bool value) const {
    for (int bit = 0; bit < 8; ++bit) {
      if ((image_[static_cast<std::size_t>(address)] >> bit & 1) == int{value}) return bit;
    }
    ADD_FAILURE() << "no such bit at " << address;
    return 0;
  }
  void newChips() {
    for (int s = 1; s <= 5; ++s) programmer_.insertChip(s, "27C256");
  }

  const std::string ledger_ = path("line.ledger");
};

TEST_F(LineTest, ANumberComesBackOnlyFromAChipItsStampNeverReached) {
  ASSERT_EQ(run({"serial", ledger_, "--sn-start", "5000"}), 0) << err_.str();
  const struct {
    const char* what;
    std::int32_t stuckAt;  // -1: a good chip
    bool stuckValue;       // the bit stays so, where the image wants the other value
    bool logFills;
    bool comesBack;
  } cases[] = {
      {"refused by Program Compare: no pulse", 0x100, false, false, true},
      {"failed on a page before the stamp's", 0x100, true, false, true},
      {"failed on the stamp's own page", 0x7F80, true, false, false},
      {"verified, but its log line could not be written", -1, false, true, false},
  };
#if defined(SIGXFSZ)
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
#if defined(_WIN32)
    // A full disk is made with a limit on a file's size, which Windows lacks.
    if (c.logFills) continue;
#endif
    newChips();
    if (c.stuckAt >= 0) {
      programmer_.chip(1).setStuckBit(static_cast<std::uint32_t>(c.stuckAt),
                                      bitOf(c.stuckAt, !c.stuckValue), c.stuckValue);
    }
#if !defined(_WIN32)
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    if (c.logFills) {
      rlimit room = before;  // less than a line: the ledger, shorter than the log, still fits
      room.rlim_cur = std::filesystem::file_size(path("line.log")) + 100;
      ::setrlimit(RLIMIT_FSIZE, &room);
    }
#endif
    std::vector<std::string> arguments = job(1);
    arguments.push_back("--sn-reuse-failed");
    const int code = run(arguments);
#if !defined(_WIN32)
    ::setrlimit(RLIMIT_FSIZE, &before);
#endif
    EXPECT_EQ(code, c.logFills ? 2 : 1) << err_.str();
    const LedgerState ledger = SerialLedger::read(ledger_);
    const std::uint64_t number = ledger.reservations.back().numbers.front();
    EXPECT_EQ(std::vector<std::uint64_t>(ledger.returned.begin(), ledger.returned.end()),
              c.comesBack ? std::vector<std::uint64_t>{number} : std::vector<std::uint64_t>{})
        << number;
  }
}

TEST_F(LineTest, ALedgerSetBackOrOlderThanTheLogIsRefusedByItsLine) {
  ASSERT_EQ(run({"serial", ledger_, "--sn-start", "1000"}), 0) << err_.str();
  const std::string fresh = contents(ledger_);
  ASSERT_EQ(run(job(5)), 0) << err_.str();  // 1000 to 1004 on five chips that passed
  const std::string used = contents(ledger_);
  const auto edited = [&](const std::string& from, const std::string& to) {
    std::string text = used;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  std::string windows;
  for (const char c : used) windows += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const struct {
    const char* what;
    std::string text;
    const char* says;  // nullptr: taken
  } edits[] = {
      {"next set back", edited("next 1005", "next 1000"), "line 5, 'next 1000'"},
      {"a number given back that no set reserved", edited("returned", "returned 77"),
       "line 7, 'returned 77'"},
      {"a number given back twice", edited("returned", "returned 1001 1001"),
       "line 7, 'returned 1001 1001'"},
      {"a number given back that a chip that passed holds", edited("returned", "returned 1003"),
       "line 7, 'returned 1003'"},
      {"run out by hand", edited("run-out no", "run-out yes"), "line 6, 'run-out yes'"},
      {"an old copy put back", fresh, "is older than the log"},
      {"line ends as a Windows editor writes them", windows, nullptr},
  };
  for (const auto& e : edits) {
    SCOPED_TRACE(e.what);
    std::ofstream(ledger_, std::ios::binary | std::ios::trunc) << e.text;
    newChips();
    programmer_.clearPackets();
    const int code = run(job(5));
    if (e.says == nullptr) {
      EXPECT_EQ(code, 0) << err_.str();
      continue;
    }
    EXPECT_EQ(code, 2);
    EXPECT_TRUE(says(e.says)) << err_.str();
    EXPECT_TRUE(programmer_.packets().empty()) << "refused before the programmer is looked for";
    EXPECT_EQ(contents(ledger_), e.text) << "the ledger is left as it was";
    EXPECT_EQ(run({"serial", ledger_, "--log", path("line.log")}), 2);
    EXPECT_TRUE(says(e.says)) << "serial shows the check: " << err_.str();
  }
  EXPECT_EQ(loggedNumbers(5), (std::vector<std::string>{"1005", "1006", "1007", "1008", "1009"}));
  EXPECT_EQ(run({"serial", ledger_}), 0);
  EXPECT_TRUE(says("checked: every number reserved is below next")) << out_.str();
}

TEST_F(LineTest, ARunRefusedBeforeAChipIsTouchedSpendsNoNumber) {
  ASSERT_EQ(run({"serial", ledger_, "--sn-start", "1000"}), 0) << err_.str();
  const std::string narrow = path("narrow.ledger");
  ASSERT_EQ(run({"serial", narrow, "--sn-start", "300", "--sn-width", "1"}), 0) << err_.str();
  const auto with = [&](const std::string& option, const std::string& value) {
    std::vector<std::string> arguments = job(5);
    *(std::find(arguments.begin(), arguments.end(), option) + 1) = value;
    return arguments;
  };
  const struct {
    const char* what;
    std::function<void()> bench;
    std::vector<std::string> arguments;
    int code;
    const char* says;
  } refusals[] = {
      {"no programmer", [&] { programmer_.setDeviceCount(0); }, job(5), 3, "no programmer found"},
      {"old firmware",
       [&] {
         programmer_.setDeviceCount(1);
         programmer_.setFirmwareVersion(1, 10);
       },
       job(5), 4, "older than 1.20"},
      {"a log that cannot be opened", [&] { programmer_.setFirmwareVersion(1, 20); },
       with("--log", path("no/such/folder/line.log")), 2, "cannot be opened"},
      {"a number too long for its byte", [] {}, with("--sn-ledger", narrow), 2,
       "serial number 300"},
      {"a number over the image's bytes", [] {}, with("--sn-at", "100"), 2, "would replace bytes"},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(r.what);
    r.bench();
    const std::string ledgers = contents(ledger_) + contents(narrow);
    EXPECT_EQ(run(r.arguments), r.code) << err_.str();
    EXPECT_TRUE(says(r.says)) << err_.str();
    EXPECT_EQ(count(0x43), 0);
    EXPECT_EQ(contents(ledger_) + contents(narrow), ledgers) << "no number was taken";
  }
  const nlohmann::json document = runJson(job(5));
  EXPECT_EQ(code_, 0) << document["error"];
  for (int s = 0; s < 5; ++s) {
    EXPECT_EQ(document["chips"][s]["serial_number"], std::to_string(1000 + s)) << "as text";
  }
  ASSERT_TRUE(document["ledger"].is_object()) << "the record names the ledger the run used";
  EXPECT_EQ(document["ledger"]["next"], "1005");
}

// Standard error that answers the prompts between sets: at each, the chips are changed and
// another station on the line takes five numbers from the same ledger; the first is answered
// with Enter, the second with q.
class OtherStation final : public std::stringbuf {
 public:
  OtherStation(int keys, std::string ledger, std::function<void()> newChips)
      : keys_(keys), ledger_(std::move(ledger)), newChips_(std::move(newChips)) {}
  std::vector<std::string> announced;  // the numbers each prompt named

 protected:
  int sync() override {
    static const std::string kNumbers = "Next serial numbers: ";
    const std::string text = str();
    std::size_t seen = 0;
    for (std::size_t at = 0; (at = text.find(kNumbers, at)) != std::string::npos; ++at, ++seen) {
      if (seen < announced.size()) continue;
      const std::size_t from = at + kNumbers.size();
      announced.push_back(text.substr(from, text.find('.', from) - from));
      LedgerState state = SerialLedger::read(ledger_);
      state.reservations.push_back({"2026-01-01T00:00:00+00:00", "other-station", {}});
      for (int i = 0; i < 5; ++i, state.next += state.step) {
        state.reservations.back().numbers.push_back(state.next);
      }
      std::ofstream(ledger_, std::ios::trunc) << SerialLedger::text(state);
      newChips_();
      const char* key = announced.size() == 1 ? "\n" : "q\n";
      if (writeSome(keys_, key, std::strlen(key)) < 0) return -1;
    }
    return 0;
  }

 private:
  int keys_;
  std::string ledger_;
  std::function<void()> newChips_;
};

TEST_F(LineTest, TheNumbersAPromptNamesAreTheOnesItsSetGets) {
  ASSERT_EQ(run({"serial", ledger_, "--sn-start", "1000"}), 0) << err_.str();
  int keys[2];
  ASSERT_EQ(openPipe(keys), 0);
  OtherStation station(keys[1], ledger_, [this] { newChips(); });
  std::ostream err(&station);
  cli::CliIo io(out_, err);
  io.driver = &programmer_;
  io.clock = &clock_;
  io.inputDescriptor = keys[0];
  std::vector<std::string> arguments = job(5);
  arguments.push_back("--repeat");
  EXPECT_EQ(cli::runCli(arguments, io), 0) << station.str();
  ::close(keys[0]);
  ::close(keys[1]);
  ASSERT_EQ(station.announced.size(), 2u) << station.str();
  const auto joined = [](const std::vector<std::string>& numbers) {
    std::string text;
    for (const std::string& n : numbers) text += (text.empty() ? "" : ", ") + n;
    return text;
  };
  EXPECT_EQ(joined(loggedNumbers(5)), station.announced[0]);
  // Ended at the second prompt: the numbers it named go to the next set, whichever run has it.
  newChips();
  EXPECT_EQ(run(job(5)), 0) << err_.str();
  EXPECT_EQ(joined(loggedNumbers(10)), station.announced[1]);
}

// Makes the ledger's next copy impossible to write (a folder where it goes) once the first page
// has gone out.
class LedgerBlocker final : public ForwardingApi {
 public:
  LedgerBlocker(VirtualProgrammer& programmer, std::string copy)
      : ForwardingApi(programmer), copy_(std::move(copy)) {}
  FtStatus Write(FtHandle h, const void* b, std::uint32_t c, std::uint32_t* n) override {
    if (c > 0 && static_cast<const std::uint8_t*>(b)[0] == 0x43) {
      std::filesystem::create_directories(copy_);
    }
    return ForwardingApi::Write(h, b, c, n);
  }

 private:
  std::string copy_;
};

TEST_F(LineTest, ALedgerThatCannotBeWrittenIsExitCodeTwoNamingIt) {
  ASSERT_EQ(run({"serial", ledger_, "--sn-start", "1000"}), 0) << err_.str();
  std::filesystem::create_directory(ledger_ + ".new");
  EXPECT_EQ(run(job(5)), 2);
  EXPECT_TRUE(says("the ledger " + ledger_ + " cannot be written")) << err_.str();
  EXPECT_EQ(count(0x43), 0) << "no chip is touched";
  std::filesystem::remove(ledger_ + ".new");

  // Once five chips have passed, the next set's numbers cannot be reserved.
  LedgerBlocker blocker(programmer_, ledger_ + ".new");
  int keys[2];
  ASSERT_EQ(openPipe(keys), 0);
  ASSERT_EQ(writeSome(keys[1], "\n", 1), 1);
  ::close(keys[1]);
  out_.str("");
  cli::CliIo io(out_, err_);
  io.driver = &blocker;
  io.clock = &clock_;
  io.inputDescriptor = keys[0];
  std::vector<std::string> arguments = job(5);
  arguments.insert(arguments.end(), {"--repeat", "--json"});
  EXPECT_EQ(cli::runCli(arguments, io), 2);
  ::close(keys[0]);
  const nlohmann::json document = nlohmann::json::parse(out_.str());
  EXPECT_EQ(document["sets"]["chips_passed"], 5);
  EXPECT_NE(document["error"].get<std::string>().find("the ledger " + ledger_), std::string::npos)
      << document["error"];
}

TEST_F(LineTest, ALogIsWrittenInTheFormItBegan) {
  const std::vector<std::string> job = {"program", "-d", "27C256", path("image.bin"), "--log"};
  auto logged = [&](const std::string& log, const char* format) {
    std::vector<std::string> arguments = job;
    arguments.insert(arguments.end(), {log, "--log-format", format});
    programmer_.clearPackets();
    newChips();
    return run(arguments);
  };
  ASSERT_EQ(logged(path("line.jsonl"), "json"), 0) << err_.str();
  EXPECT_EQ(logged(path("line.jsonl"), "csv"), 2);
  EXPECT_TRUE(says("holds JSON lines")) << err_.str();
  EXPECT_TRUE(programmer_.packets().empty());
  ASSERT_EQ(logged(path("line.csv"), "csv"), 0) << err_.str();
  EXPECT_EQ(logged(path("line.csv"), "json"), 2);
  EXPECT_TRUE(says("holds CSV lines")) << err_.str();
  // A CSV log begun with fewer columns goes on with them, each row as long as its header.
  write("old.csv",
        "schema,run_id,time,host,set,socket,programmer,device,image,image_sha256,serial_number,"
        "result,text,address,expected,actual,operations,verified\n");
  ASSERT_EQ(logged(path("old.csv"), "csv"), 0) << err_.str();
  std::istringstream rows(contents(path("old.csv")));
  std::string header, row;
  std::getline(rows, header);
  std::getline(rows, row);
  EXPECT_EQ(std::count(row.begin(), row.end(), ','), 17) << row;
  const std::string csv = contents(path("line.csv"));
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2) << "a header and one chip";
}

}  // namespace
}  // namespace tandra::test
