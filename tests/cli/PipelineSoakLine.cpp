#include "PipelineSoakLine.h"

#include <filesystem>
#include <fstream>

#include "production/SerialLedger.h"

namespace tandra::test {

namespace {

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void replace(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The numbers a ledger's text reserved; nothing for text that is no ledger.
std::uint64_t reservedIn(const std::string& text) {
  try {
    std::uint64_t reserved = 0;
    for (const auto& r : SerialLedger::parse(text, "ledger").reservations) {
      reserved += r.numbers.size();
    }
    return reserved;
  } catch (const LedgerError&) {
    return 0;
  }
}

template <typename T>
const T& pick(const std::vector<T>& from, SoakLine::Random& random) {
  return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(random)];
}

}  // namespace

const char* troubleName(Trouble trouble) {
  static constexpr const char* kNames[] = {"none",
                                           "no programmer",
                                           "old firmware",
                                           "log cannot be opened",
                                           "number too long",
                                           "stamp over data",
                                           "next set back",
                                           "returned number used",
                                           "old copy",
                                           "spoilt ledger"};
  return kNames[static_cast<int>(trouble)];
}

SoakLine::SoakLine(std::string folder) : folder_(std::move(folder)) {
  narrow_ = folder_ + "/narrow.ledger";
  LedgerState narrow;
  narrow.width = 1;
  narrow.next = 300;
  SerialLedger::create(narrow_, narrow);
  LedgerState start;
  start.next = 1000;
  ledger_ = folder_ + "/line-0.ledger";
  log_ = folder_ + "/line-0.log";
  SerialLedger::create(ledger_, start);
}

void SoakLine::rotate() {
  LedgerState next;
  next.next = SerialLedger::read(ledger_).next;
  ++generation_;
  ledger_ = folder_ + "/line-" + std::to_string(generation_) + ".ledger";
  log_ = folder_ + "/line-" + std::to_string(generation_) + ".log";
  SerialLedger::create(ledger_, next);
  copyBefore_.clear();
  oldCopy_.clear();
  passed_.clear();
}

Trouble SoakLine::draw(Random& random) const {
  if (!std::bernoulli_distribution(0.3)(random)) return Trouble::None;
  const auto trouble = static_cast<Trouble>(std::uniform_int_distribution<int>(1, 9)(random));
  switch (trouble) {
    case Trouble::NextSetBack:
      return SerialLedger::read(ledger_).reservations.empty() ? Trouble::None : trouble;
    case Trouble::ReturnedUsed:
      return passed_.empty() ? Trouble::None : trouble;
    case Trouble::OldCopy:
      return oldCopy_.empty() ? Trouble::None : trouble;
    default:
      return trouble;
  }
}

void SoakLine::before(Trouble trouble, Random& random) {
  kept_ = contents(ledger_);
  if (trouble == Trouble::None) copyBefore_ = kept_;
  LedgerState state = SerialLedger::read(ledger_);
  switch (trouble) {
    case Trouble::NextSetBack:
      state.next = pick(pick(state.reservations, random).numbers, random);
      replace(ledger_, SerialLedger::text(state));
      break;
    case Trouble::ReturnedUsed:
      state.returned.push_back(pick(passed_, random));
      replace(ledger_, SerialLedger::text(state));
      break;
    case Trouble::OldCopy:
      replace(ledger_, oldCopy_);
      break;
    case Trouble::Spoilt:
      replace(ledger_, "tandra-usb serial number ledger 1\nnext 12x\n");
      break;
    default:
      break;
  }
  edited_ = contents(trouble == Trouble::NumberTooLong ? narrow_ : ledger_);
}

SoakLine::Refusal SoakLine::after(Trouble trouble) {
  const std::string now = contents(trouble == Trouble::NumberTooLong ? narrow_ : ledger_);
  Refusal refusal;
  refusal.untouched = now == edited_;
  const std::uint64_t before = reservedIn(edited_), after = reservedIn(now);
  refusal.numbersSpent = after > before ? after - before : 0;
  // The operator puts an edited ledger right before the next run.
  if (trouble == Trouble::NextSetBack || trouble == Trouble::ReturnedUsed ||
      trouble == Trouble::OldCopy || trouble == Trouble::Spoilt) {
    replace(ledger_, kept_);
  }
  return refusal;
}

std::vector<std::string> SoakLine::words(Trouble trouble) {
  switch (trouble) {
    case Trouble::None:
      return {};
    case Trouble::NoProgrammer:
      return {"no programmer found"};
    case Trouble::OldFirmware:
      return {"older than 1.20"};
    case Trouble::LogCannotOpen:
      return {"cannot be opened"};
    case Trouble::NumberTooLong:
      return {"is larger than a 1-byte number holds"};
    case Trouble::StampOverData:
      return {"would replace bytes"};
    case Trouble::NextSetBack:
      return {"', is not above"};  // line N, 'next M', is not above ...
    case Trouble::ReturnedUsed:
      return {"back, but a chip that passed holds it"};
    case Trouble::OldCopy:
      return {"is older than the log", "back, but a chip that passed holds it"};
    case Trouble::Spoilt:
      return {"holds '12x' where a number belongs"};
  }
  return {};
}

int SoakLine::exitCode(Trouble trouble) {
  if (trouble == Trouble::NoProgrammer) return 3;
  if (trouble == Trouble::OldFirmware) return 4;
  return 2;
}

void SoakLine::otherStation(int count) {
  LedgerState state = SerialLedger::read(ledger_);
  state.reservations.push_back({"2026-01-01T00:00:00+00:00", "other-station", {}});
  for (int i = 0; i < count; ++i, state.next += state.step) {
    state.reservations.back().numbers.push_back(state.next);
  }
  replace(ledger_, SerialLedger::text(state));
}

void SoakLine::ran(const std::vector<std::uint64_t>& logged,
                   const std::vector<std::uint64_t>& passed) {
  passed_.insert(passed_.end(), passed.begin(), passed.end());
  if (copyBefore_.empty()) return;
  // The copy from before this run is old once a chip in the log holds a number it had not
  // reached: put back, it would give that number again.
  const std::uint64_t next = SerialLedger::parse(copyBefore_, ledger_).next;
  for (const std::uint64_t number : logged) {
    if (number >= next) oldCopy_ = copyBefore_;
  }
}

}  // namespace tandra::test
