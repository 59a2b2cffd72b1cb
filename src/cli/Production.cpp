// Production runs: a different image per socket (files, lanes of a split image, serial
// numbers), set after set with counters, and a log that a line's database can follow.
#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>

#include "cli/DeviceNames.h"
#include "cli/ImageFiles.h"
#include "cli/Job.h"
#include "cli/Record.h"
#include "common/HexText.h"
#include "common/InputFile.h"
#include "device/ProductionSet.h"
#include "image/Checksum.h"

namespace tandra::cli {

namespace {

std::uint64_t number(const std::string& option, const std::string& text, int base) {
  std::size_t used = 0;
  std::uint64_t value = 0;
  try {
    value = std::stoull(text, &used, base);
  } catch (const std::exception&) {
    used = 0;
  }
  if (text.empty() || used != text.size()) {
    throw JobError(exitcode::kUsage, option + " wants a number, not '" + text + "'");
  }
  return value;
}

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

}  // namespace

std::uint8_t Job::fillByte() const {
  const bool forChips = options_.command != "checksum" && options_.command != "convert";
  if (!options_.fill) return forChips ? 0xFF : 0x00;
  const std::uint64_t value = number("--fill", *options_.fill, 16);
  if (value > 0xFF) throw JobError(exitcode::kUsage, "--fill takes one byte, 00 to FF");
  return static_cast<std::uint8_t>(value);
}

void Job::prepareSocketImages() {
  Session& session = *session_;
  plan_.shareBuffer(options_.input);
  for (const std::string& entry : options_.socketImages) {
    const std::size_t equals = entry.find('=');
    const int socket = equals == 1 && entry[0] >= '1' && entry[0] <= '5' ? entry[0] - '0' : 0;
    if (socket == 0 || equals + 1 >= entry.size()) {
      throw JobError(exitcode::kUsage, "--socket-image wants S=FILE with S 1 to 5, not '" +
                                           entry + "'");
    }
    const std::string path = entry.substr(equals + 1);
    ImageBuffer image;
    image.deviceEndAddress = session.image.deviceEndAddress;
    fillBuffer(image, fillByte());
    InputFile file = openInput(path, io_.inputDescriptor);
    const LoadReport loaded = loadImage(image, file, path, inputFormat(file, path, {}).format);
    refuseUncleanLoad(loaded, "used");
    plan_.giveImage(socket, std::move(image), path);
  }
  if (options_.split == 0) return;
  // The image buffer holds the whole bus's image: every socket takes its lane of it.
  const int lanes = options_.split;
  const std::int64_t source = std::max<std::int64_t>(splitExtent_, 0);
  if (source % lanes != 0) {
    console_.warn("the image holds " + std::to_string(source) + " bytes, not a whole number of " +
                  std::to_string(lanes) + "-byte words: the last word is cut short");
  }
  plan_.splitImage(session.image, source, lanes, session.settings.socketCount, options_.input);
}

void Job::imagesForSet() {
  const std::optional<SetShortfall> shortfall = plan_.composeSet(*session_);
  if (!shortfall) return;
  const std::string socket = std::to_string(shortfall->socket);
  if (shortfall->kind == SetShortfall::Kind::NoImage) {
    throw JobError(exitcode::kUsage, "socket " + socket + " has no image: give the file, or " +
                                         "--socket-image " + socket + "=FILE");
  }
  const SerialStamp& stamp = *plan_.stamp();
  throw JobError(exitcode::kUsage,
                 "serial number " + std::to_string(shortfall->serialNumber) + " does not fit in " +
                     std::to_string(stamp.bytes()) + " bytes at " +
                     hexText(static_cast<std::uint32_t>(stamp.address), 5) + " of the device");
}

void Job::numberChips() {
  if (options_.serialAt.empty()) return;
  const SerialNumbers numbers(
      number("--sn-start", options_.serialStart.empty() ? "0" : options_.serialStart, 10),
      number("--sn-step", options_.serialStep, 10), options_.serialReuseFailed);
  SerialStamp stamp;
  stamp.address = static_cast<std::int32_t>(number("--sn-at", options_.serialAt, 16) & 0x7FFFFFFF);
  stamp.format = parseSerialFormat(options_.serialFormat).value_or(SerialFormat::LittleEndian);
  stamp.width = options_.serialWidth;
  plan_.numberChips(numbers, stamp);
}

int Job::programSets() {
  numberChips();
  int code = exitcode::kPassed;
  for (set_ = 1;; ++set_) {
    imagesForSet();
    std::vector<OperationResult> operations;
    // Program Compare first: a socket whose chip cannot take its image gets no pulse.
    operations.push_back(operate([this]() -> const OperationResult& {
      return options_.noCheck ? session_->run(Operation::Program) : session_->programWhereItCan();
    }));
    int setCode = exitCodeFor(operations.back());
    if ((setCode == exitcode::kPassed || setCode == exitcode::kSocketFailed) && !options_.noVerify) {
      operations.push_back(operate(Operation::Verify));
      setCode = std::max(setCode, exitCodeFor(operations.back()));
    }
    logSet(operations);
    countSet(operations);
    code = std::max(code, setCode);
    if (!options_.repeat || setCode > exitcode::kSocketFailed || !nextSet()) return code;
  }
}

bool Job::nextSet() {
  console_.warn("set " + std::to_string(set_) + " done; in all " + std::to_string(setsDone_) +
                " sets, " + std::to_string(chipsPassed_) + " chips passed, " +
                std::to_string(chipsFailed_) + " failed");
  console_.warn("put in the next set and press Enter (q to end)");
  const std::optional<std::string> answer = readLine(io_.inputDescriptor, host_);
  if (!answer || *answer == "q" || *answer == "Q") return false;
  // The virtual programmer's next set is a set of blank chips, as the operator puts them in.
  if (virtualProgrammer_ != nullptr && type_ != nullptr && options_.virtualState.empty()) {
    fillVirtualSockets(*type_);
  }
  return true;
}

void Job::countSet(const std::vector<OperationResult>& operations) {
  ++setsDone_;
  const ChipCount chips = plan_.settleSet(*session_, operations);
  chipsPassed_ += chips.passed;
  chipsFailed_ += chips.failed;
  document_["sets"] = {{"done", setsDone_}, {"chips_passed", chipsPassed_},
                       {"chips_failed", chipsFailed_}};
}

void Job::logSet(const std::vector<OperationResult>& operations) {
  if (options_.log.empty()) return;
  if (!log_) {
    // Appended to, never rewritten: each line stands once it is written, whatever follows.
    log_ = std::make_unique<std::ofstream>(options_.log, std::ios::binary | std::ios::app);
    if (!*log_) throw JobError(exitcode::kUsage, "the log " + options_.log + " cannot be written");
  }
  const Session& session = *session_;
  const std::string started = record::isoTime(std::chrono::system_clock::now());
  for (int socket = 1; socket <= session.settings.socketCount; ++socket) {
    const SocketResult* result = socketVerdict(operations, socket);
    if (result == nullptr) continue;
    const ImageBuffer& image = session.socketImages.of(socket);
    const std::string_view bytes(reinterpret_cast<const char*>(image.data()),
                                 static_cast<std::size_t>(session.image.deviceEndAddress) + 1);
    nlohmann::json line = record::socket(*result);
    line["time"] = started;
    line["host"] = record::hostName();
    line["device"] = document_["device"];
    line["set"] = set_;
    line["image"] = record::image(result->image.empty() ? "file" : result->image, bytes,
                                  bufferChecksum(image));
    *log_ << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n'
          << std::flush;
  }
  if (!*log_) throw JobError(exitcode::kUsage, "the log " + options_.log + " could not be written");
}

}  // namespace tandra::cli
