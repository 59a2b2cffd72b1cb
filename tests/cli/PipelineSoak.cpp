#include "PipelineSoak.h"

#include "PipelineRun.h"

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
#include "device/Catalogue.h"
#include "files/Savers.h"
#include "image/ImageBuffer.h"
#include "link/Clock.h"
#include "link/ForwardingApi.h"
#include "production/SerialLedger.h"
#include "sim/VirtualProgrammer.h"

namespace tandra::test {

namespace {

using Random = std::mt19937;

int draw(Random& random, int least, int most) {
  return std::uniform_int_distribution<int>(least, most)(random);
}
bool chance(Random& random, double p) {
  return std::bernoulli_distribution(p)(random);
}

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
  // `line`: the ledger the run takes its numbers from, from which another station on the line
  // takes numbers at some of the prompts; nullptr for a run numbered otherwise.
  Operator(PipelineRun& run, VirtualProgrammer& programmer, Random& random, int keys,
           SoakLine* line)
      : run_(run), programmer_(programmer), random_(random), keys_(keys), line_(line) {}

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
      if (run_.serials && programmer_.socket(socket)) {
        const auto stamp = chip.cells().begin() + run_.stampAt;
        run_.inserted[{set, socket}] = Bytes(stamp, stamp + run_.stampBytes);
      }
    }
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
      announced(text, set + 1);
      // The numbers the prompt named are the set's, whatever another station takes now.
      if (line_ != nullptr && chance(random_, 0.5)) {
        line_->otherStation(draw(random_, 1, 5));
        ++run_.races;
      }
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
  // The numbers the prompt before `set` named: "Next serial numbers: 1005, 1006."
  void announced(const std::string& text, int set) {
    static const std::string kPrompt = "then Enter; q ends.";
    static const std::string kNumbers = " Next serial numbers: ";
    std::size_t at = 0;
    for (int seen = 1; seen < set; ++seen) at = text.find(kPrompt, at) + kPrompt.size();
    if (text.compare(at, kNumbers.size(), kNumbers) != 0) return;
    std::vector<std::uint64_t>& numbers = run_.announced[set];
    std::istringstream list(text.substr(at + kNumbers.size(), text.find('.', at) - at));
    for (std::string number; std::getline(list, number, ',');) {
      numbers.push_back(std::stoull(number));
    }
  }

  PipelineRun& run_;
  VirtualProgrammer& programmer_;
  Random& random_;
  int keys_;
  SoakLine* line_;
  std::size_t answered_ = 0;
};

const std::vector<std::pair<std::string, std::int32_t>>& chipTypes() {
  static const std::vector<std::pair<std::string, std::int32_t>> types = [] {
    std::vector<std::pair<std::string, std::int32_t>> all;
    for (const Chip& chip : chips()) all.emplace_back(std::string(chip.name), chip.size);
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
  line_ = std::make_unique<SoakLine>(folder_);
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
  run.ledger = run.serials && chance(random, 0.4);
  if (run.ledger) {
    // A long soak reads logs of a bounded size: a new ledger and log now and then.
    if (++runsOnThisLog_ > 200) {
      line_->rotate();
      runsOnThisLog_ = 1;
    }
    run.trouble = line_->draw(random);
    run.stampFormat = "le";
    run.stampBytes = 4;
    run.stampAt = draw(random, 64, run.size - run.stampBytes);
    run.reuseFailed = chance(random, 0.3);
  } else if (run.serials) {
    static constexpr std::array<const char*, 4> kFormats = {"le", "be", "bcd", "ascii"};
    run.stampFormat = kFormats[static_cast<std::size_t>(draw(random, 0, 3))];
    run.stampBytes = run.stampFormat == "ascii" ? 8 : 4;
    if (chance(random, 0.3)) run.stampBytes = draw(random, 2, 8);
    run.stampAt = draw(random, 64, run.size - run.stampBytes);
    run.serialStep = static_cast<std::uint64_t>(draw(random, 1, 3));
    run.firstSerial = chance(random, 0.8)
                          ? static_cast<std::uint64_t>(draw(random, 0, 100000))
                          : (std::uint64_t{1} << (8 * std::min(run.stampBytes, 7))) - 7;
    run.reuseFailed = chance(random, 0.3);
  }
  // The number goes where no file sets a byte: the files end before it, in whole records.
  const auto roomForTheNumber = [&](std::size_t extent, int lanes) {
    if (!run.serials) return extent;
    return std::min(
        extent, static_cast<std::size_t>(run.stampAt / 64) * 64 * static_cast<std::size_t>(lanes));
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
    const std::size_t extent = roomForTheNumber(
        chance(random, 0.7) ? whole
                            : static_cast<std::size_t>(draw(random, 1, run.size / 64)) * 64 * lanes,
        lanes);
    Bytes file = randomBytes(random, extent);
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
      Bytes image = randomBytes(
          random,
          roomForTheNumber(chance(random, 0.7)
                               ? size
                               : static_cast<std::size_t>(draw(random, 1, run.size / 64)) * 64,
                           1));
      const auto [path, format] =
          writeImage(folder_, "socket" + std::to_string(socket), image, random);
      a.insert(a.end(), {"--socket-image", std::to_string(socket) + "=" +
                                               (chance(random, 0.5) ? format + ":" : "") + path});
      image.resize(size, 0xFF);
      run.expected[static_cast<std::size_t>(socket)] = image;
    }
  }
  if (run.serials) {
    // As data sheets and scripts write an address, with 0x or without; over the file's first
    // bytes where the run is to be refused for it.
    std::ostringstream at;
    at << (chance(random, 0.5) ? "0x" : "") << std::hex << std::uppercase << run.stampAt;
    a.insert(a.end(),
             {"--sn-at", run.trouble == Trouble::StampOverData ? std::string("0") : at.str()});
  }
  if (run.ledger) {
    a.insert(a.end(), {"--sn-ledger", run.trouble == Trouble::NumberTooLong ? line_->narrowLedger()
                                                                            : line_->ledger()});
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
  // A run on the ledger writes the line's one log; another run a log of its own.
  run.logPath = run.ledger ? line_->log() : folder_ + "/run.log";
  if (run.trouble == Trouble::LogCannotOpen) run.logPath = folder_ + "/no/such/folder/line.log";
  // The narrow ledger's numbers are lower than the line's: held against the line's log it would
  // be refused as older than the log, before its numbers are found too long.
  if (run.trouble == Trouble::NumberTooLong) run.logPath = folder_ + "/narrow.log";
  if (!run.ledger) std::filesystem::remove(run.logPath);
  if (chance(random, 0.1)) {
    std::ofstream(run.logPath, std::ios::app) << "{\"cut\": ";  // an earlier run's cut line
  }
  std::error_code missing;
  run.logFrom =
      std::filesystem::exists(run.logPath) ? std::filesystem::file_size(run.logPath, missing) : 0;
  a.insert(a.end(), {"--log", run.logPath, "--quiet"});

  // The fault, at a command drawn over the run's likely length; none where the run is to be
  // refused before a chip.
  if (run.trouble == Trouble::None && chance(random, 0.6)) {
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
  if (run.trouble == Trouble::NoProgrammer) programmer.setDeviceCount(0);
  if (run.trouble == Trouble::OldFirmware) programmer.setFirmwareVersion(1, 10);
  Operator desk(run, programmer, random, keys[1],
                // No station writes the ledger while a run's file size is held down.
                run.ledger && run.trouble == Trouble::None && run.fault != Fault::LogFills
                    ? line_.get()
                    : nullptr);
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
  if (run.ledger) line_->before(run.trouble, random);
  run.code = cli::runCli(a, io);
#if !defined(_WIN32)
  ::setrlimit(RLIMIT_FSIZE, &unlimited);
#endif
  const SoakLine::Refusal refusal = run.ledger ? line_->after(run.trouble) : SoakLine::Refusal{};
  ::close(keys[0]);
  ::close(keys[1]);
  if (run.fault == Fault::OutputFails) run.faultStruck = true;
  desk.keepChips(run.setsEnded + 1);
  run.out = out.str();
  run.err = desk.str();

  ++figures_.runs;
  if (run.ledger) ++figures_.ledgerRuns;
  check(run);
  if (run.ledger) checkLine(run, refusal);
}

}  // namespace tandra::test
