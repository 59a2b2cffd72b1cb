#include "PipelineSoak.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif
#include <unistd.h>

#include <array>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>

#include "TestPipes.h"
#include "cli/Cli.h"
#include "device/Chips.h"
#include "files/Savers.h"
#include "image/ImageBuffer.h"
#include "link/Clock.h"
#include "link/ForwardingApi.h"
#include "production/SerialLedger.h"
#include "sim/VirtualProgrammer.h"

namespace tandra::test {

namespace {

using Bytes = std::vector<std::uint8_t>;
using Random = std::mt19937;

int draw(Random& random, int least, int most) {
  return std::uniform_int_distribution<int>(least, most)(random);
}
bool chance(Random& random, double p) {
  return std::bernoulli_distribution(p)(random);
}

enum class Images { Shared, PerSocket, Split };
enum class Fault {
  None,
  LostReply,
  CutReply,
  PausedReply,
  CablePulled,
  Signal,
  OutputFails,
  LogFills
};
constexpr std::array<const char*, 8> kFaultNames = {"none",         "lost reply",   "cut reply",
                                                    "paused reply", "cable pulled", "signal",
                                                    "output fails", "log fills"};

// The serial number as the chip should hold it, written here afresh from the options rather than
// by the program's own code.
Bytes stampOf(std::uint64_t number, const std::string& format, int bytes) {
  Bytes out(static_cast<std::size_t>(bytes), 0);
  for (int i = 0; i < bytes; ++i) {
    const auto at = static_cast<std::size_t>(i);
    const auto back = static_cast<std::size_t>(bytes - 1 - i);
    if (format == "le") {
      out[at] = static_cast<std::uint8_t>(i < 8 ? number >> (8 * i) : 0);
    } else if (format == "be") {
      out[back] = static_cast<std::uint8_t>(i < 8 ? number >> (8 * i) : 0);
    } else if (format == "ascii") {
      out[back] = static_cast<std::uint8_t>('0' + number % 10);
      number /= 10;
    } else {  // bcd
      out[back] = static_cast<std::uint8_t>(number % 10 | (number / 10 % 10) << 4);
      number /= 100;
    }
  }
  return out;
}

}  // namespace

// One run as drawn, and what came of it.
struct PipelineRun {
  std::uint64_t number = 0;
  std::string type;
  std::int32_t size = 0;
  int count = 1;
  int leftOut = 0;  // bit s-1: socket s left out with --sockets
  Images images = Images::Shared;
  int lanes = 0;
  std::array<Bytes, 6> expected;  // each socket's image, before its serial number
  bool serials = false;
  std::int32_t stampAt = 0;
  std::string stampFormat = "le";
  int stampBytes = 4;
  std::uint64_t firstSerial = 0;
  std::uint64_t serialStep = 1;
  bool reuseFailed = false;
  bool ledger = false;        // the numbers come from the soak's one ledger
  bool ledgerSpoilt = false;  // ... which holds junk for this run
  int setsWanted = 1;
  bool noCheck = false;
  bool noVerify = false;
  bool json = false;
  Fault fault = Fault::None;
  std::uint64_t faultAt = 0;  // the command the fault strikes at
  int signal = 0;
  std::size_t outputFailsAfter = 0;
  std::uint64_t logRoom = 0;
  bool faultStruck = false;
  std::vector<std::string> arguments;
  std::string logPath;

  int code = -1;
  std::string out;
  std::string err;
  std::map<std::pair<int, int>, Bytes> chips;  // (set, socket): the chip when its set ended
  int setsEnded = 0;

  bool inUse(int socket) const { return socket <= count && (leftOut >> (socket - 1) & 1) == 0; }
  std::string describe() const {
    std::string text = "run " + std::to_string(number) + ": program " + type + " x" +
                       std::to_string(count) + " sets " + std::to_string(setsWanted) + ", " +
                       kFaultNames[static_cast<std::size_t>(fault)] + " at " +
                       std::to_string(faultAt) + ";";
    for (const std::string& argument : arguments) text += " " + argument;
    return text;
  }
};

namespace {

// The programmer as the job's driver: strikes the run's fault at its command.
class FaultyDriver final : public ForwardingApi {
 public:
  FaultyDriver(VirtualProgrammer& programmer, PipelineRun& run, std::atomic<int>& stop)
      : ForwardingApi(programmer), programmer_(programmer), run_(run), stop_(stop) {}

  FtStatus Write(FtHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override {
    if (count > 0 && ++commands_ == run_.faultAt) strike();
    return ForwardingApi::Write(handle, buffer, count, written);
  }

 private:
  void strike() {
    run_.faultStruck = true;
    switch (run_.fault) {
      case Fault::LostReply:
        programmer_.dropReplies(1);
        break;
      case Fault::CutReply:
        programmer_.cutReplies(1, 4 + run_.faultAt % 300);
        break;
      case Fault::PausedReply:
        programmer_.pauseReplies(1, 8 + run_.faultAt % 500, Clock::Millis(1 + run_.faultAt % 5));
        break;
      case Fault::CablePulled:
        programmer_.setUnplugged(true);
        break;
      case Fault::Signal:
        stop_ = run_.signal;
        break;
      default:
        run_.faultStruck = false;
        break;
    }
  }

  VirtualProgrammer& programmer_;
  PipelineRun& run_;
  std::atomic<int>& stop_;
  std::uint64_t commands_ = 0;
};

// Standard output that takes `room` bytes and then fails, as a full disk or a reader that went
// away does.
class FailingOutput final : public std::stringbuf {
 public:
  explicit FailingOutput(std::optional<std::size_t> room) : room_(room) {}

 protected:
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    if (!room_) return std::stringbuf::xsputn(text, count);
    const auto fits = static_cast<std::streamsize>(
        std::min<std::size_t>(*room_, static_cast<std::size_t>(count)));
    *room_ -= static_cast<std::size_t>(fits);
    std::stringbuf::xsputn(text, fits);
    return fits;
  }
  int_type overflow(int_type c) override {
    if (room_ && *room_ == 0) return traits_type::eof();
    if (room_) --*room_;
    return std::stringbuf::overflow(c);
  }

 private:
  std::optional<std::size_t> room_;
};

// The operator at the bench: at each prompt the finished set's chips are taken out (and kept
// for the checks), the next set's are put in, and Enter (or q after the last set) is pressed.
class Operator final : public std::stringbuf {
 public:
  Operator(PipelineRun& run, VirtualProgrammer& programmer, Random& random, int keys)
      : run_(run), programmer_(programmer), random_(random), keys_(keys) {}

  void putInChips(int set) {
    for (int socket = 1; socket <= 5; ++socket) {
      Eprom& chip = programmer_.insertChip(socket, run_.type);
      if (!run_.inUse(socket)) continue;
      const Bytes& image = run_.expected[static_cast<std::size_t>(socket)];
      const int kind = draw(random_, 0, 99);
      if (kind < 6) {
        // A bit stuck at 0 where the image wants a 1.
        for (int tries = 0; tries < 64; ++tries) {
          const auto address = static_cast<std::uint32_t>(draw(random_, 0, run_.size - 1));
          const std::uint8_t wanted = image[address];
          if (wanted == 0) continue;
          int bit = 0;
          while ((wanted >> bit & 1) == 0) ++bit;
          chip.setStuckBit(address, bit, false);
          break;
        }
      } else if (kind < 9) {
        for (auto& cell : chip.cells()) cell = static_cast<std::uint8_t>(random_());  // used before
      } else if (kind < 10) {
        programmer_.removeChip(socket);  // an empty socket
      }
    }
    (void)set;
  }

  void keepChips(int set) {
    for (int socket = 1; socket <= 5; ++socket) {
      if (!run_.inUse(socket) || !programmer_.socket(socket)) continue;
      const auto& cells = programmer_.chip(socket).cells();
      run_.chips[{set, socket}] = Bytes(cells.begin(), cells.begin() + run_.size);
    }
  }

 protected:
  int sync() override {
    static const std::string kPrompt = "then Enter; q ends.";
    const std::string text = str();
    std::size_t prompts = 0;
    for (std::size_t at = 0; (at = text.find(kPrompt, at)) != std::string::npos;
         at += kPrompt.size()) {
      ++prompts;
    }
    while (answered_ < prompts) {
      ++answered_;
      const int set = static_cast<int>(answered_);
      keepChips(set);
      run_.setsEnded = set;
      const bool more = set < run_.setsWanted;
      if (more) putInChips(set + 1);
      const char* key = more ? "\n" : "q\n";
      if (writeSome(keys_, key, std::strlen(key)) < 0) return -1;
    }
    return 0;
  }

 private:
  PipelineRun& run_;
  VirtualProgrammer& programmer_;
  Random& random_;
  int keys_;
  std::size_t answered_ = 0;
};

const std::vector<std::pair<std::string, std::int32_t>>& chipTypes() {
  static const std::vector<std::pair<std::string, std::int32_t>> types = [] {
    std::vector<std::pair<std::string, std::int32_t>> all;
    for (const Chip& chip : kChips) all.emplace_back(std::string(chip.name), chip.size);
    return all;
  }();
  return types;
}

// Small chips most of the time, so that a long soak draws many runs; the large ones too.
std::pair<std::string, std::int32_t> drawType(Random& random) {
  const auto& types = chipTypes();
  for (;;) {
    const auto& type =
        types[static_cast<std::size_t>(draw(random, 0, static_cast<int>(types.size()) - 1))];
    if (type.second <= 8 * 1024 || chance(random, 0.15)) return type;
  }
}

Bytes randomBytes(Random& random, std::size_t count) {
  Bytes bytes(count);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  return bytes;
}

// Writes `bytes` (an image from address 0) in a format drawn at random; gives the file's name and
// the format's word.
std::pair<std::string, std::string> writeImage(const std::string& folder, const std::string& name,
                                               const Bytes& bytes, Random& random) {
  static constexpr std::array<std::pair<FileFormat, const char*>, 4> kFormats = {{
      {FileFormat::Binary, "bin"},
      {FileFormat::IntelHex, "intel"},
      {FileFormat::MotorolaHex, "srec"},
      {FileFormat::AsciiHex, "ascii"},
  }};
  static constexpr std::array<const char*, 4> kExtensions = {".bin", ".hex", ".s19", ".txt"};
  const auto which = static_cast<std::size_t>(draw(random, 0, 3));
  ImageBuffer image;
  image.deviceEndAddress = static_cast<std::int32_t>(bytes.size()) - 1;
  std::copy(bytes.begin(), bytes.end(), image.data());
  const std::string path = folder + "/" + name + kExtensions[which];
  const std::string text = savedBytes(image, kFormats[which].first);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  return {path, kFormats[which].second};
}

}  // namespace

PipelineSoak::PipelineSoak(std::uint32_t seed) : seed_(seed) {
  folder_ = (std::filesystem::temp_directory_path() /
             ("tandra-pipeline-soak-" + std::to_string(::getpid()) + "-" + std::to_string(seed)))
                .string();
  std::filesystem::create_directories(folder_);
  // A log past the file-size limit is a failed write, as it is in tandra-cli.
#if defined(SIGXFSZ)
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  ledgerPath_ = folder_ + "/line.ledger";
  LedgerState start;
  start.next = 1000;
  SerialLedger::create(ledgerPath_, start);
}

PipelineSoak::~PipelineSoak() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

void PipelineSoak::run(std::uint64_t count) {
  for (std::uint64_t i = 0; i < count; ++i) runOne(figures_.runs + 1);
}

void PipelineSoak::find(const PipelineRun& run, std::uint64_t& counter, const std::string& what) {
  ++counter;
  if (findings_.size() < 50) findings_.push_back(run.describe() + ": " + what);
}

void PipelineSoak::runOne(std::uint64_t number) {
  Random random(seed_ * 2654435761u + static_cast<std::uint32_t>(number));
  PipelineRun run;
  run.number = number;
  std::tie(run.type, run.size) = drawType(random);
  const auto size = static_cast<std::size_t>(run.size);
  std::vector<std::string>& a = run.arguments;
  a = {"program", "-d", run.type};

  // The sockets: a count, or a list that leaves some out.
  run.count = draw(random, 1, 5);
  if (run.count > 1 && chance(random, 0.3)) {
    run.leftOut = draw(random, 0, (1 << (run.count - 1)) - 1);  // the highest stays in
    std::string list;
    for (int s = 1; s <= run.count; ++s) {
      if (run.inUse(s)) list += (list.empty() ? "" : ",") + std::to_string(s);
    }
    if (list.find(',') == std::string::npos) list += "-" + list;  // one socket, not a count
    a.insert(a.end(), {"--sockets", list});
  } else {
    a.insert(a.end(), {"-n", std::to_string(run.count)});
  }

  // Serial numbers go where every image leaves erased bytes.
  run.serials = chance(random, 0.4);
  // Some runs take their numbers from one ledger all the soak's runs share, as the processes of
  // a line do: a number on a passed chip is never given again, in this run or any later one.
  run.ledger = run.serials && run.size >= 8 && chance(random, 0.4);
  if (run.ledger) {
    run.stampFormat = "le";
    run.stampBytes = 4;
    run.stampAt = draw(random, 0, run.size - run.stampBytes);
    run.reuseFailed = chance(random, 0.3);
    run.ledgerSpoilt = chance(random, 0.05);
  } else if (run.serials) {
    static constexpr std::array<const char*, 4> kFormats = {"le", "be", "bcd", "ascii"};
    run.stampFormat = kFormats[static_cast<std::size_t>(draw(random, 0, 3))];
    run.stampBytes = run.stampFormat == "ascii" ? 8 : 4;
    if (chance(random, 0.3)) run.stampBytes = draw(random, 2, 8);
    run.stampAt = draw(random, 0, run.size - run.stampBytes);
    run.serialStep = static_cast<std::uint64_t>(draw(random, 1, 3));
    run.firstSerial = chance(random, 0.8)
                          ? static_cast<std::uint64_t>(draw(random, 0, 100000))
                          : (std::uint64_t{1} << (8 * std::min(run.stampBytes, 7))) - 7;
    run.reuseFailed = chance(random, 0.3);
  }
  auto clearStamp = [&](Bytes& image, int lanes, int lane) {
    if (!run.serials) return;
    for (int i = 0; i < run.stampBytes; ++i) {
      const std::size_t at =
          static_cast<std::size_t>(run.stampAt + i) * static_cast<std::size_t>(lanes) +
          static_cast<std::size_t>(lane);
      if (at < image.size()) image[at] = 0xFF;
    }
  };

  // The images.
  const int kind = draw(random, 0, 9);
  run.images = kind < 6 ? Images::Shared : kind < 8 ? Images::PerSocket : Images::Split;
  if (run.images == Images::Split) {
    run.lanes = run.size <= 64 * 1024 && chance(random, 0.5) ? 4 : 2;
    if (std::int64_t{run.size} * run.lanes > ImageBuffer::kSize) run.lanes = 2;
    if (std::int64_t{run.size} * run.lanes > ImageBuffer::kSize) run.images = Images::Shared;
  }
  if (run.images == Images::Shared || run.images == Images::Split) {
    const int lanes = run.images == Images::Split ? run.lanes : 1;
    const std::size_t whole = size * static_cast<std::size_t>(lanes);
    // A text file's last record is a whole one: a shorter file is cut at a record's end.
    const std::size_t extent =
        chance(random, 0.7) ? whole
                            : static_cast<std::size_t>(draw(random, 1, run.size / 64)) * 64 * lanes;
    Bytes file = randomBytes(random, extent);
    for (int lane = 0; lane < lanes; ++lane) clearStamp(file, lanes, lane);
    const auto [path, format] = writeImage(folder_, "image", file, random);
    a.push_back(path);
    if (chance(random, 0.3)) a.insert(a.end(), {"--format", format});
    if (run.images == Images::Split) a.insert(a.end(), {"--split", std::to_string(lanes)});
    for (int socket = 1; socket <= 5; ++socket) {
      Bytes& image = run.expected[static_cast<std::size_t>(socket)];
      image.assign(size, 0xFF);
      const std::size_t lane = static_cast<std::size_t>((socket - 1) % lanes);
      for (std::size_t i = 0; i < size && i * lanes + lane < file.size(); ++i) {
        image[i] = file[i * lanes + lane];
      }
    }
  } else {
    for (int socket = 1; socket <= run.count; ++socket) {
      if (!run.inUse(socket)) continue;
      Bytes image =
          randomBytes(random, chance(random, 0.7)
                                  ? size
                                  : static_cast<std::size_t>(draw(random, 1, run.size / 64)) * 64);
      clearStamp(image, 1, 0);
      const auto [path, format] =
          writeImage(folder_, "socket" + std::to_string(socket), image, random);
      a.insert(a.end(), {"--socket-image", std::to_string(socket) + "=" +
                                               (chance(random, 0.5) ? format + ":" : "") + path});
      image.resize(size, 0xFF);
      run.expected[static_cast<std::size_t>(socket)] = image;
    }
  }
  if (run.serials) {
    a.insert(a.end(), {"--sn-at", std::to_string(0) /*placeholder*/});
    std::ostringstream at;
    at << std::hex << std::uppercase << run.stampAt;
    a.back() = at.str();
  }
  if (run.ledger) {
    a.insert(a.end(), {"--sn-ledger", ledgerPath_});
    if (run.reuseFailed) a.push_back("--sn-reuse-failed");
  } else if (run.serials) {
    a.insert(a.end(),
             {"--sn-format", run.stampFormat, "--sn-start", std::to_string(run.firstSerial),
              "--sn-step", std::to_string(run.serialStep)});
    if (run.stampBytes != (run.stampFormat == "ascii" ? 8 : 4)) {
      a.insert(a.end(), {"--sn-width", std::to_string(run.stampBytes)});
    }
    if (run.reuseFailed) a.push_back("--sn-reuse-failed");
  }

  run.setsWanted = chance(random, 0.4) ? draw(random, 2, 3) : 1;
  if (run.setsWanted > 1) a.push_back("--repeat");
  run.noCheck = chance(random, 0.2);
  run.noVerify = chance(random, 0.1);
  run.json = chance(random, 0.5);
  if (run.noCheck) a.push_back("--no-check");
  if (run.noVerify) a.push_back("--no-verify");
  if (run.json) a.push_back("--json");
  run.logPath = folder_ + "/run.log";
  std::filesystem::remove(run.logPath);
  if (chance(random, 0.1)) std::ofstream(run.logPath) << "{\"cut\": ";  // an earlier run's cut line
  a.insert(a.end(), {"--log", run.logPath, "--quiet"});

  // The fault, at a command drawn over the run's likely length.
  if (chance(random, 0.6)) {
    run.fault = static_cast<Fault>(draw(random, 1, 7));
    const std::uint64_t pages = static_cast<std::uint64_t>(run.size) / 256;
    run.faultAt = static_cast<std::uint64_t>(
        draw(random, 1, static_cast<int>(pages * 6 * run.setsWanted + 20)));
    run.signal = std::array{1, 2, 15}[static_cast<std::size_t>(draw(random, 0, 2))];
    run.outputFailsAfter = static_cast<std::size_t>(draw(random, 0, 1500));
    run.logRoom = static_cast<std::uint64_t>(draw(random, 0, 2500));
#if defined(_WIN32)
    // A log's disk that fills is made with a limit on the size of a file, which Windows lacks.
    if (run.fault == Fault::LogFills) run.fault = Fault::None;
#endif
    if (run.fault != Fault::None) ++figures_.faults;
  }

  // The bench.
  ManualClock clock;
  VirtualProgrammer programmer(clock);
  programmer.setRecordPackets(false);
  std::atomic<int> stop{0};
  FaultyDriver driver(programmer, run, stop);
  int keys[2];
  if (openPipe(keys) != 0) return;
  Operator desk(run, programmer, random, keys[1]);
  desk.putInChips(1);
  FailingOutput out(run.fault == Fault::OutputFails ? std::optional(run.outputFailsAfter)
                                                    : std::nullopt);
  std::ostream outStream(&out);
  std::ostream errStream(&desk);
  cli::CliIo io(outStream, errStream);
  io.driver = &driver;
  io.clock = &clock;
  io.stopSignal = &stop;
  io.inputDescriptor = keys[0];
  const int failure = chance(random, 0.5) ? EPIPE : ENOSPC;
  io.outError = [&] { return run.fault == Fault::OutputFails ? failure : 0; };
#if !defined(_WIN32)
  rlimit unlimited{};
  ::getrlimit(RLIMIT_FSIZE, &unlimited);
  if (run.fault == Fault::LogFills) {
    std::error_code ignored;
    const auto already =
        std::filesystem::exists(run.logPath) ? std::filesystem::file_size(run.logPath, ignored) : 0;
    rlimit limited = unlimited;
    limited.rlim_cur = static_cast<rlim_t>(already) + run.logRoom + 64;
    ::setrlimit(RLIMIT_FSIZE, &limited);
    run.faultStruck = true;
  }
#endif
  std::string ledgerKept;
  if (run.ledgerSpoilt) {
    std::ifstream kept(ledgerPath_, std::ios::binary);
    ledgerKept.assign(std::istreambuf_iterator<char>(kept), {});
    std::ofstream(ledgerPath_, std::ios::trunc) << "tandra-usb serial number ledger 1\nnext 12x\n";
  }
  run.code = cli::runCli(a, io);
  if (run.ledgerSpoilt)
    std::ofstream(ledgerPath_, std::ios::binary | std::ios::trunc) << ledgerKept;
#if !defined(_WIN32)
  ::setrlimit(RLIMIT_FSIZE, &unlimited);
#endif
  ::close(keys[0]);
  ::close(keys[1]);
  if (run.fault == Fault::OutputFails) run.faultStruck = true;
  desk.keepChips(run.setsEnded + 1);
  run.out = out.str();
  run.err = desk.str();

  ++figures_.runs;
  if (run.ledger) ++figures_.ledgerRuns;
  check(run);
}

void PipelineSoak::check(const PipelineRun& run) {
  struct Claim {
    int set;
    int socket;
    std::string result;
    std::optional<std::uint64_t> serial;
    std::string where;
  };
  std::vector<Claim> verdicts;  // what the record or the result lines say of each chip
  std::vector<Claim> logged;

  // The log.
  std::ifstream logFile(run.logPath);
  for (std::string line; std::getline(logFile, line);) {
    if (line.empty() || line.starts_with("{\"cut\": ")) continue;
    nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
    if (parsed.is_discarded()) {
      if (logFile.peek() != EOF)
        find(run, figures_.disagreements, "a log line is not JSON: " + line);
      continue;  // the last line, cut by the full disk: its chip must be named as missing
    }
    std::optional<std::uint64_t> serial;
    if (parsed["serial_number"].is_number()) serial = parsed["serial_number"].get<std::uint64_t>();
    if (parsed["serial_number"].is_string())
      serial = std::stoull(parsed["serial_number"].get<std::string>());
    logged.push_back({parsed["set"].get<int>(), parsed["socket"].get<int>(),
                      parsed["result"].get<std::string>(), serial, "log"});
  }

  // The record, or the result lines.
  std::set<std::pair<int, int>> missing;
  std::optional<nlohmann::json> record;
  if (run.json) {
    nlohmann::json parsed = nlohmann::json::parse(run.out, nullptr, false);
    if (!parsed.is_discarded()) record = parsed;
  }
  bool linesWhole = !run.json && !(run.fault == Fault::OutputFails);
  if (record) {
    if ((*record)["chips"].is_array()) {
      for (const auto& chip : (*record)["chips"]) {
        std::optional<std::uint64_t> serial;
        if (chip["serial_number"].is_number()) serial = chip["serial_number"].get<std::uint64_t>();
        verdicts.push_back({chip["set"].get<int>(), chip["socket"].get<int>(),
                            chip["result"].get<std::string>(), serial, "record"});
      }
    }
    if ((*record)["log"].is_object()) {
      for (const auto& chip : (*record)["log"]["missing"]) {
        missing.insert({chip["set"].get<int>(), chip["socket"].get<int>()});
      }
    }
  } else if (linesWhole) {
    static const std::regex kLine(R"(^(?:set (\d+), )?socket (\d)(?: \(serial (\d+)\))?: (.*)$)");
    std::map<std::pair<int, int>, Claim> last;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
      std::smatch m;
      if (!std::regex_match(line, m, kLine)) continue;
      const int set = m[1].matched ? std::stoi(m[1]) : 1;
      const int socket = std::stoi(m[2]);
      const std::string words = m[4];
      const bool passing = words == (run.noVerify ? "Programmed OK" : "Verified OK");
      const std::string result = passing                        ? "passed"
                                 : words.starts_with("Skipped") ? "skipped"
                                 : words.starts_with("Stopped") || words.ends_with("not verified")
                                     ? "stopped"
                                     : "failed";
      std::optional<std::uint64_t> serial;
      if (m[3].matched) serial = std::stoull(m[3]);
      last[{set, socket}] = {set, socket, result, serial, "line"};
    }
    for (const auto& [key, claim] : last) verdicts.push_back(claim);
    static const std::regex kMissing(R"(set (\d+) socket (\d))");
    const std::size_t notIn = run.err.find("not in it: ");
    if (notIn != std::string::npos) {
      const std::string list = run.err.substr(notIn, run.err.find('\n', notIn) - notIn);
      for (std::sregex_iterator it(list.begin(), list.end(), kMissing), end; it != end; ++it) {
        missing.insert({std::stoi((*it)[1]), std::stoi((*it)[2])});
      }
    }
  }

  // Every chip reported passed holds exactly its image and its serial number.
  std::map<std::uint64_t, int> passedSerials, givenSerials;
  auto checkPass = [&](const Claim& claim) {
    if (claim.result != "passed") return;
    const auto chip = run.chips.find({claim.set, claim.socket});
    Bytes wanted = run.expected[static_cast<std::size_t>(claim.socket)];
    if (run.serials) {
      if (!claim.serial) {
        find(run, figures_.falsePasses,
             claim.where + ": set " + std::to_string(claim.set) + " socket " +
                 std::to_string(claim.socket) + " passed without its serial number");
        return;
      }
      const Bytes stamp = stampOf(*claim.serial, run.stampFormat, run.stampBytes);
      std::copy(stamp.begin(), stamp.end(), wanted.begin() + run.stampAt);
    }
    if (chip == run.chips.end() || chip->second != wanted) {
      std::string where = "it was not read back";
      if (chip != run.chips.end()) {
        const auto differ = std::mismatch(wanted.begin(), wanted.end(), chip->second.begin());
        where = "at " + std::to_string(differ.first - wanted.begin()) + " it holds " +
                std::to_string(*differ.second) + ", not " + std::to_string(*differ.first);
      }
      find(run, figures_.falsePasses,
           claim.where + ": set " + std::to_string(claim.set) + " socket " +
               std::to_string(claim.socket) +
               " reported passed, but its chip does not hold its image: " + where);
    }
  };
  for (const Claim& claim : verdicts) checkPass(claim);
  for (const Claim& claim : logged) checkPass(claim);

  // No serial number twice: among passed chips ever, among all chips unless failed ones are
  // given again.
  const std::vector<Claim>& numbered = logged.empty() ? verdicts : logged;
  for (const Claim& claim : numbered) {
    if (!claim.serial) continue;
    if (claim.result == "passed" && ++passedSerials[*claim.serial] == 2) {
      find(run, figures_.serialRepeats,
           "serial number " + std::to_string(*claim.serial) + " passed twice");
    }
    if (!run.reuseFailed && claim.result != "skipped" && ++givenSerials[*claim.serial] == 2) {
      find(run, figures_.serialRepeats,
           "serial number " + std::to_string(*claim.serial) + " given twice");
    }
  }

  // The shared ledger never gives a number that a passed chip of any run already holds.
  if (run.ledger) {
    for (const Claim& claim : numbered) {
      if (!claim.serial) continue;
      if (ledgerPassed_.count(*claim.serial) != 0) {
        find(run, figures_.serialRepeats,
             "the ledger gave " + std::to_string(*claim.serial) + " again after it passed");
      }
    }
    for (const Claim& claim : numbered) {
      if (claim.serial && claim.result == "passed") ledgerPassed_.insert(*claim.serial);
    }
  }

  // Every chip an operation had is in the log once, or named as missing from it.
  std::map<std::pair<int, int>, int> lines;
  for (const Claim& claim : logged) {
    if (++lines[{claim.set, claim.socket}] == 2) {
      find(run, figures_.disagreements,
           "set " + std::to_string(claim.set) + " socket " + std::to_string(claim.socket) +
               " is in the log twice");
    }
  }
  for (const Claim& claim : verdicts) {
    if (claim.result == "skipped") continue;
    ++figures_.chips;
    if (claim.result == "passed") ++figures_.passes;
    const std::pair<int, int> key{claim.set, claim.socket};
    if (lines.count(key) == 0 && missing.count(key) == 0) {
      find(run, figures_.unloggedChips,
           "set " + std::to_string(claim.set) + " socket " + std::to_string(claim.socket) + " (" +
               claim.result + ") is not in the log and not named as missing");
    }
  }
  for (const Claim& claim : logged) {
    if (record || linesWhole) {
      const bool reported = std::any_of(verdicts.begin(), verdicts.end(), [&](const Claim& v) {
        return v.set == claim.set && v.socket == claim.socket && v.result == claim.result;
      });
      if (!reported) {
        find(run, figures_.disagreements,
             "the log says set " + std::to_string(claim.set) + " socket " +
                 std::to_string(claim.socket) + " " + claim.result + ", the report does not");
      }
    }
  }

  // The exit code, the closing line and the record's counts agree with the verdicts.
  int passed = 0, counted = 0;
  std::set<int> sets;
  for (const Claim& claim : verdicts) {
    if (claim.result == "skipped") continue;
    ++counted;
    passed += claim.result == "passed";
    sets.insert(claim.set);
  }
  figures_.sets += sets.size();
  const bool stopped = run.code >= 128;
  if (stopped || run.code == 3) ++figures_.stopped;
  if (run.code == 2 && counted == 0) ++figures_.refused;
  if (run.ledgerSpoilt && (run.code == 0 || counted != 0)) {
    find(run, figures_.disagreements, "a ledger holding junk did not stop the run before a chip");
  }
  if (run.code == 0 && (passed != counted || (counted == 0 && (record || linesWhole)))) {
    find(run, figures_.disagreements,
         "exit code 0 with " + std::to_string(passed) + " of " + std::to_string(counted) +
             " chips passed");
  }
  if (run.code == 1 && passed == counted && counted > 0) {
    find(run, figures_.disagreements, "exit code 1 with every chip passed");
  }
  if (record) {
    if ((*record)["exit_code"] != run.code)
      find(run, figures_.disagreements, "the record's exit code differs");
    if ((*record)["sets"].is_object() && (*record)["sets"]["chips_passed"] != passed) {
      find(run, figures_.disagreements,
           "the record counts " + (*record)["sets"]["chips_passed"].dump() +
               " chips passed, its chips say " + std::to_string(passed));
    }
  } else if (linesWhole && counted > 0) {
    static const std::regex kClosing(R"(program: (\d+) of (\d+) (sockets|chips) passed)");
    std::smatch m;
    if (std::regex_search(run.out, m, kClosing) &&
        (std::stoi(m[1]) != passed || std::stoi(m[2]) != counted)) {
      find(run, figures_.disagreements,
           "the closing line says " + m.str() + ", the lines " + std::to_string(passed) + " of " +
               std::to_string(counted));
    }
  }
}

}  // namespace tandra::test
