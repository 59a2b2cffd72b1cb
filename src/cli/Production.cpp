// Production runs: a different image per socket (files, lanes of a split image, serial
// numbers), set after set with counters, and a log that a line's database can follow.
#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstddef>

#include "cli/ImageFiles.h"
#include "cli/Job.h"
#include "cli/Record.h"
#include "common/HexText.h"
#include "common/InputFile.h"
#include "common/RunId.h"
#include "common/TimeText.h"
#include "common/Words.h"
#include "image/Checksum.h"
#include "production/ProductionLog.h"
#include "production/RunRecords.h"
#include "production/SerialLedger.h"

namespace tandra::cli {

namespace {

// What the operator answered at the prompt between sets.
enum class Answer { GoOn, End, Again };

// A line from standard input, waited for while no stop is asked; nothing at its end.
std::optional<std::string> readLine(int descriptor, ConsoleHost& host) {
  std::string line;
  for (;;) {
#if !defined(_WIN32)
    pollfd waiting{descriptor, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, 100);
    if (host.stopAsked()) return std::nullopt;
    if (ready <= 0) continue;
    char c = 0;
    const ssize_t got = ::read(descriptor, &c, 1);
#else
    char c = 0;
    const int got = ::_read(descriptor, &c, 1);
    if (host.stopAsked()) return std::nullopt;
#endif
    if (got <= 0) return line.empty() ? std::nullopt : std::optional(line);
    if (c == '\n') return line;
    if (c != '\r') line += c;
  }
}

// Enter goes on; q, the end of the input (Ctrl-D) or a stop (Ctrl-C) ends; anything else is no
// answer, and the question is asked again.
Answer answerOf(const std::optional<std::string>& line) {
  if (!line) return Answer::End;
  if (line->empty()) return Answer::GoOn;
  if (*line == "q" || *line == "Q") return Answer::End;
  return Answer::Again;
}

// Keys pressed while the set ran were not an answer to a question not yet asked.
void dropTypeAhead(int descriptor) {
#if !defined(_WIN32)
  if (::isatty(descriptor) == 1) ::tcflush(descriptor, TCIFLUSH);
#else
  (void)descriptor;
#endif
}

}  // namespace

std::uint8_t Job::fillByte() const {
  const bool forChips = kind_.forChips;
  if (!options_.fill) return forChips ? 0xFF : 0x00;
  const std::uint64_t value = optionNumber("--fill", *options_.fill, 16);
  if (value > 0xFF) throw JobError(exitcode::kUsage, "--fill takes one byte, 00 to FF");
  return static_cast<std::uint8_t>(value);
}

void Job::prepareSocketImages() {
  Session& session = *session_;
  plan_.shareBuffer(options_.input, imageStanding_);
  if (options_.split > 0 && !options_.socketImages.empty()) {
    throw JobError(exitcode::kUsage,
                   "--split gives every socket its lane of the file: it takes "
                   "no --socket-image");
  }
  try {
    for (const std::string& entry : options_.socketImages) giveSocketImage(entry);
    if (options_.split == 0) return;
    if (options_.input.empty()) {
      throw JobError(exitcode::kUsage, "--split " + std::to_string(options_.split) +
                                           " takes its lanes from a file: give the file");
    }
    // The image buffer holds the whole bus's image: every socket takes its lane of it.
    const int lanes = options_.split;
    const std::int64_t source = std::max<std::int64_t>(splitExtent_, 0);
    if (source % lanes != 0) {
      console_.warn("the image holds " + std::to_string(source) + " bytes, not a whole number of " +
                    std::to_string(lanes) + "-byte words: the last word is cut short");
    }
    plan_.splitImage(session.image(), source, lanes, session.settings().socketCount, options_.input,
                     imageStanding_);
  } catch (const PlanError& error) {
    throw JobError(
        exitcode::kUsage,
        std::string(options_.split > 0 ? "--split: " : "--socket-image: ") + error.what());
  }
}

void Job::giveSocketImage(const std::string& entry) {
  // S=FILE, or S=FORMAT:FILE for a file of its own format.
  const std::size_t equals = entry.find('=');
  const int socket = equals == 1 && entry[0] >= '1' && entry[0] <= '5' ? entry[0] - '0' : 0;
  if (socket == 0 || equals + 1 >= entry.size()) {
    throw JobError(exitcode::kUsage,
                   "--socket-image wants S=FILE or S=FORMAT:FILE with S 1 to 5, "
                   "not '" +
                       entry + "'");
  }
  std::string path = entry.substr(equals + 1);
  std::string formatAsked = options_.format;
  const std::size_t colon = path.find(':');
  if (colon != std::string::npos) {
    bool valid = true;
    const std::string word = path.substr(0, colon);
    parseFormat(word, &valid);
    if (valid) {
      formatAsked = word;
      path = path.substr(colon + 1);
    }
  }
  ImageBuffer image;
  image.deviceEndAddress = session_->image().deviceEndAddress;
  fillBuffer(image, fillByte());
  InputFile file = openInput(path, io_.inputDescriptor);
  const FormatChoice format = inputFormat(file, path, askedFormat(formatAsked, "--format"));
  console_.note("socket " + std::to_string(socket) + ": reading " + path + " as " +
                std::string(formatWord(format.format)) + " (" + format.how + ")");
  const LoadReport loaded = loadImage(image, file, path, format.format);
  refuseUncleanLoad(loaded, "used");
  plan_.giveImage(socket, std::move(image), path, standingOf(loaded));
}

void Job::openLog() {
  if (options_.log.empty()) return;
  try {
    log_ = std::make_unique<ProductionLog>(
        options_.log, options_.logFormat == "csv" ? LogFormat::Csv : LogFormat::JsonLines);
  } catch (const LogError& error) {
    throw JobError(exitcode::kUsage, error.what());
  }
  document_["log"] = {{"path", options_.log}, {"missing", nlohmann::json::array()}};
  run_->keepLog(*log_, LogFacts{runId(), hostName(), "", std::string(type_->name)});
  if (log_->endedCutLine()) {
    console_.warn("the log " + options_.log +
                  " ended in a line cut short by an earlier run: it has been ended, so that "
                  "this run's lines stand on their own");
  }
}

void Job::judgeSet(const std::function<std::optional<SetShortfall>()>& check) const {
  std::optional<SetShortfall> shortfall;
  try {
    shortfall = check();
  } catch (const LedgerError& error) {
    throw JobError(exitcode::kUsage, error.what());
  }
  if (shortfall) refuseSet(*shortfall);
}

void Job::checkImages() {
  judgeSet([this] { return plan_.checkSet(*session_); });
}

void Job::imagesForSet() {
  judgeSet([this] { return run_->prepareSet(); });
}

void Job::refuseSet(const SetShortfall& shortfall) const {
  const std::string text = shortfall.describe(plan_.facts(*session_));
  using Kind = SetShortfall::Kind;
  switch (shortfall.kind) {
    case Kind::NoImage: {
      const std::string socket = std::to_string(shortfall.socket);
      throw JobError(exitcode::kUsage,
                     text + ": give the file, or --socket-image " + socket + "=FILE");
    }
    case Kind::ImageNotInUse:
      throw JobError(exitcode::kUsage, "--socket-image: " + text);
    case Kind::StampOverData:
      throw JobError(exitcode::kUsage, "--sn-at " + options_.serialAt + ": " + text +
                                           " (--force writes the number there all the same)");
    default:
      throw JobError(exitcode::kUsage, "--sn-at " + options_.serialAt + ": " + text);
  }
}

ChipPromise Job::promise() const {
  ChipPromise promise;
  promise.image = imageStanding_;
  promise.image.needed = kind_.file == JobFile::ToChips;
  promise.logWanted = !options_.log.empty();
  if (kind_.operation) promise.operations = {*kind_.operation};
  if (kind_.id == JobId::Program && !options_.noVerify) {
    promise.operations.push_back(Operation::Verify);
  }
  return promise;
}

int Job::runSets() {
  int code = exitcode::kPassed;
  for (;;) {
    // The set's images, and its serial numbers, are taken now: nothing but the chips can stop
    // it any more.
    if (kind_.file == JobFile::ToChips) imagesForSet();
    set_ = run_->setsRun() + 1;
    const SetOutcome outcome = run_->runSet(*this);
    statistics_.addSet(outcome, outcome.elapsedMs);
    const RunStatistics::Tally& chips = statistics_.chips();
    document_["sets"] = {{"done", statistics_.setsDone()},
                         {"stopped", statistics_.setsStopped()},
                         {"chips_passed", chips.passed},
                         {"chips_failed", chips.failed},
                         {"chips_stopped", chips.stopped}};
    document_["statistics"] = statistics_.json();
    code = std::max(code, setCode(outcome));
    recordLedger();
    if (!outcome.unlogged.empty()) reportUnlogged(outcome);
    if (!outcome.numbersError.empty()) throw JobError(exitcode::kUsage, outcome.numbersError);
    if (!console_.recordLost().empty() && !host_.stopAsked()) {
      throw JobError(exitcode::kUsage, console_.recordLost());
    }
    if (!options_.repeat || code > exitcode::kSocketFailed || outcome.stopped ||
        !nextSet(outcome)) {
      return code;
    }
  }
}

int Job::setCode(const SetOutcome& outcome) const {
  if (host_.stopAsked()) return stopCode();
  if (linkLost_) return exitcode::kProgrammer;
  const bool allPassed =
      std::all_of(outcome.chips.begin(), outcome.chips.end(),
                  [](const ChipVerdict& c) { return c.passed() || !c.counted(); });
  return allPassed && !outcome.stopped ? exitcode::kPassed : exitcode::kSocketFailed;
}

bool Job::nextSet(const SetOutcome& outcome) {
  std::string failed;
  int aside = 0;
  for (const ChipVerdict& chip : outcome.chips) {
    if (chip.passed() || !chip.counted()) continue;
    failed += (failed.empty() ? "socket " : ", ") + std::to_string(chip.result.socket);
    ++aside;
  }
  static constexpr const char* kHowMany[] = {
      "", "the chip", "both chips", "all three chips", "all four chips", "all five chips"};
  const auto inPlay = std::count_if(outcome.chips.begin(), outcome.chips.end(),
                                    [](const ChipVerdict& c) { return c.counted(); });
  std::string prompt =
      "Set " + std::to_string(outcome.set) + " done: " + std::to_string(outcome.count.passed) +
      " passed. Change " + kHowMany[std::clamp<std::ptrdiff_t>(inPlay, 0, 5)] +
      (failed.empty()
           ? ""
           : " (" + failed + " failed: put " + (aside == 1 ? "it" : "them") + " aside)") +
      ", then Enter; q ends.";
  // The numbers named are the next set's, reserved for it now: another station on the ledger
  // takes others while the chips are changed.
  holdNumbers();
  if (const std::string numbers = nextNumbersText(); !numbers.empty()) {
    prompt += " Next serial numbers: " + numbers + ".";
  }
  dropTypeAhead(io_.inputDescriptor);
  for (;;) {
    console_.warn(prompt);
    const Answer answer = answerOf(readLine(io_.inputDescriptor, host_));
    if (answer == Answer::End) {
      releaseNumbers();
      return false;
    }
    if (answer == Answer::GoOn) break;
    prompt = "Enter starts the next set, q ends the run.";
  }
  // The virtual programmer's next set is a set of blank chips, as the operator puts them in.
  if (virtualProgrammer_ != nullptr && type_ != nullptr && options_.virtualState.empty()) {
    fillVirtualSockets(*type_);
  }
  return true;
}

std::string Job::nextNumbersText() const {
  std::string text;
  for (const std::uint64_t number : plan_.upcomingNumbers(*session_)) {
    text += (text.empty() ? "" : ", ") + std::to_string(number);
  }
  return text;
}

bool Job::mayGoOn() {
  return !host_.stopIfAsked();
}

void Job::operationEnded(const OperationResult& result) {
  keepResult(result);
  document_["operations"].push_back(record::operation(result, set_));
  // The last operation's sockets are told as the chips' verdicts, once their log lines stand.
  const bool last = result.kind == run_->promise().operations.back();
  say(result.operation + " (" + durationText(result.elapsedMs) +
      (result.stopped ? ", stopped" : "") + ")");
  if (last || result.stopped) return;
  for (const SocketResult& socket : result.sockets) say(socketLine(socket));
}

void Job::chipJudged(int set, const ChipVerdict& verdict) {
  say(socketLine(verdict.result));
  document_["chips"].push_back(record::socket(verdict.result));
  document_["chips"].back()["set"] = set;
}

std::string Job::socketLine(const SocketResult& socket) const {
  std::string line = "socket " + std::to_string(socket.socket);
  if (options_.repeat) line = "set " + std::to_string(set_) + ", " + line;
  if (socket.serialNumber) line += " (serial " + std::to_string(*socket.serialNumber) + ")";
  return line + ": " + socket.describe();
}

void Job::reportUnlogged(const SetOutcome& outcome) {
  std::string chips;
  for (const UnloggedChip& chip : outcome.unlogged) {
    chips += (chips.empty() ? "" : ", ") + std::string("set ") + std::to_string(chip.set) +
             " socket " + std::to_string(chip.socket) +
             (chip.serialNumber ? " (serial " + std::to_string(*chip.serialNumber) + ")" : "");
    document_["log"]["missing"].push_back(
        {{"set", chip.set},
         {"socket", chip.socket},
         {"serial_number", chip.serialNumber ? nlohmann::json(std::to_string(*chip.serialNumber))
                                             : nlohmann::json(nullptr)}});
  }
  throw JobError(exitcode::kUsage, "the log " + options_.log + " could not be written (" +
                                       outcome.logError + "); not in it: " + chips);
}

void Job::reportStatistics() {
  if (statistics_.setsDone() + statistics_.setsStopped() == 0) return;
  if (!options_.repeat && options_.log.empty()) return;
  if (options_.json) return;  // the record has them
  console_.warn("statistics of the run:");
  for (const std::string& line : statistics_.summary()) console_.warn("  " + line);
}

}  // namespace tandra::cli
