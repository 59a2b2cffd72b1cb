// The serial numbers a program job writes into its chips: the options that say how, or the
// ledger that does, the numbers held for the next set, and what the record says of the ledger.
#include "cli/Job.h"
#include "cli/Record.h"
#include "common/HexText.h"
#include "common/RunId.h"
#include "common/Words.h"
#include "production/SerialLedger.h"

namespace tandra::cli {

// A number as people write it: hexadecimal digits (0x before them or not) where `base` is 16;
// otherwise decimal digits, or hexadecimal ones after 0x. No sign, no spaces, at most 64 bits.
std::uint64_t Job::optionNumber(const std::string& option, const std::string& text, int base) {
  const UnsignedNumber parsed = base == 16 ? parseHexadecimal(text) : parseWholeNumber(text);
  if (parsed.fault == UnsignedNumber::Fault::TooLarge) {
    throw JobError(exitcode::kUsage, option + " " + text + " is larger than 64 bits hold");
  }
  if (!parsed) {
    throw JobError(exitcode::kUsage,
                   option + " wants a " +
                       (base == 16 ? "hexadecimal number (0x or not)" : "whole number") +
                       " of 0 or more, not '" + text + "'");
  }
  return parsed.value;
}

void Job::numberChips() {
  if (options_.serialAt.empty()) {
    for (const auto& [given, option] : {std::pair{!options_.serialStart.empty(), "--sn-start"},
                                        std::pair{!options_.serialStep.empty(), "--sn-step"},
                                        std::pair{!options_.serialFormat.empty(), "--sn-format"},
                                        std::pair{options_.serialWidth.has_value(), "--sn-width"},
                                        std::pair{!options_.serialLedger.empty(), "--sn-ledger"}}) {
      if (given) {
        throw JobError(exitcode::kUsage,
                       std::string(option) + " numbers the chips at --sn-at: give the address");
      }
    }
    return;
  }
  SerialStamp stamp;
  stamp.perBoard = options_.serialPer == "board";
  if (stamp.perBoard && options_.split == 0) {
    throw JobError(exitcode::kUsage,
                   "--sn-per board numbers the boards of a split image: give --split");
  }
  if (options_.serialWidth && (*options_.serialWidth < 1 || *options_.serialWidth > 20)) {
    throw JobError(exitcode::kUsage,
                   "--sn-width wants 1 to 20 bytes, not " + std::to_string(*options_.serialWidth));
  }
  std::unique_ptr<SerialSource> numbers =
      options_.serialLedger.empty() ? countedNumbers(stamp) : ledgerNumbers(stamp);
  const std::uint64_t address = optionNumber("--sn-at", options_.serialAt, 16);
  const std::int64_t chipEnd = session_->image().deviceEndAddress;
  const std::int64_t end = stamp.perBoard ? (chipEnd + 1) * options_.split - 1 : chipEnd;
  if (address + static_cast<std::uint64_t>(stamp.bytes()) - 1 > static_cast<std::uint64_t>(end)) {
    throw JobError(exitcode::kUsage, "--sn-at " + options_.serialAt + ": a " +
                                         std::to_string(stamp.bytes()) + "-byte number at 0x" +
                                         hexText(address, 3) + " runs past the " +
                                         (stamp.perBoard ? "board's" : "device") + " end (0x" +
                                         hexText(static_cast<std::uint64_t>(end), 3) + ")");
  }
  stamp.address = static_cast<std::int32_t>(address);
  try {
    plan_.numberChips(std::move(numbers), stamp, fillByte(), options_.force);
  } catch (const PlanError& error) {
    throw JobError(exitcode::kUsage, std::string("--sn-per board: ") + error.what());
  }
}

std::unique_ptr<SerialSource> Job::countedNumbers(SerialStamp& stamp) const {
  const std::uint64_t step =
      options_.serialStep.empty() ? 1 : optionNumber("--sn-step", options_.serialStep, 10);
  if (step == 0) {
    throw JobError(exitcode::kUsage,
                   "--sn-step 0 would give every chip the same number: give 1 or more");
  }
  stamp.format = parseSerialFormat(options_.serialFormat).value_or(SerialFormat::LittleEndian);
  stamp.width = options_.serialWidth.value_or(0);
  const std::uint64_t first =
      options_.serialStart.empty() ? 0 : optionNumber("--sn-start", options_.serialStart, 10);
  return std::make_unique<SerialNumbers>(first, step, options_.serialReuseFailed);
}

std::unique_ptr<SerialSource> Job::ledgerNumbers(SerialStamp& stamp) const {
  const std::string& path = options_.serialLedger;
  const auto notTheOptions = [&](const char* option) {
    return JobError(exitcode::kUsage, std::string(option) +
                                          " is the ledger's to say: tandra-cli "
                                          "serial " +
                                          path + " shows it");
  };
  if (!options_.serialStart.empty()) throw notTheOptions("--sn-start");
  std::unique_ptr<SerialLedger> ledger;
  LedgerState state;
  try {
    // Held against the log the run writes as well: a ledger older than the log is refused.
    ledger =
        std::make_unique<SerialLedger>(path, runId(), options_.serialReuseFailed, options_.log);
    state = SerialLedger::read(path);
  } catch (const LedgerError& error) {
    throw JobError(exitcode::kUsage, error.what());
  }
  stamp.format = state.format;
  stamp.width = state.width;
  // The ledger says how its numbers are written: an option may say the same, never otherwise.
  if (!options_.serialFormat.empty() && parseSerialFormat(options_.serialFormat) != state.format) {
    throw notTheOptions("--sn-format");
  }
  if (options_.serialWidth &&
      SerialStamp{.format = state.format, .width = *options_.serialWidth}.bytes() !=
          stamp.bytes()) {
    throw notTheOptions("--sn-width");
  }
  if (!options_.serialStep.empty() &&
      optionNumber("--sn-step", options_.serialStep, 10) != state.step) {
    throw notTheOptions("--sn-step");
  }
  return ledger;
}

void Job::holdNumbers() {
  judgeSet([this] { return plan_.holdNumbers(*session_); });
  recordLedger();
}

void Job::releaseNumbers() {
  try {
    plan_.releaseHeld();
  } catch (const LedgerError& error) {
    // Spent, then: no chip has them, and none will.
    console_.warn(std::string("the serial numbers held for the next set stay spent: ") +
                  error.what());
  }
  recordLedger();
}

void Job::recordLedger() {
  if (options_.serialLedger.empty()) return;
  try {
    document_["ledger"] =
        record::ledger(options_.serialLedger, SerialLedger::read(options_.serialLedger));
  } catch (const LedgerError&) {
    // The record keeps what it last had; the error says what went wrong.
  }
}

}  // namespace tandra::cli
