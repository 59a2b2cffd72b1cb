// The serial number ledger as text, and the checks that a ledger read from its file is a whole
// one: the file is small text that people open in an editor, and an editor takes no lock.
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include "common/Words.h"
#include "production/SerialLedger.h"

namespace tandra {

namespace {

constexpr const char* kFirstLine = "tandra-usb serial number ledger 1";

const char* formatWord(SerialFormat format) {
  switch (format) {
    case SerialFormat::LittleEndian:
      return "le";
    case SerialFormat::BigEndian:
      return "be";
    case SerialFormat::Bcd:
      return "bcd";
    case SerialFormat::Ascii:
      return "ascii";
  }
  return "le";
}

std::uint64_t numberIn(const std::string& word, const std::string& path) {
  const UnsignedNumber parsed = parseUnsigned(word);
  if (!parsed) {
    throw LedgerError("the ledger " + path + " holds '" + word + "' where a number belongs");
  }
  return parsed.value;
}

// Where the lines that a whole ledger's checks name stood.
struct LineNumbers {
  int runOut = 0;
  std::string runOutText;
  std::vector<int> reserved;  // one per reservation, in order
};

[[noreturn]] void untrusted(const std::string& path, int line, const std::string& text,
                            const std::string& why) {
  throw LedgerError("the ledger " + path + " cannot be trusted: line " + std::to_string(line) +
                    ", '" + text + "', " + why);
}

// A ledger gives a number again only from its returned numbers: its next must be above every
// number it reserved, and what it returns must be numbers it reserved, each once.
void checkWhole(const LedgerState& state, const LineNumbers& lines, const std::string& path) {
  if (state.runOut && state.next <= std::numeric_limits<std::uint64_t>::max() - state.step) {
    untrusted(path, lines.runOut, lines.runOutText,
              "says the numbers have run out, but after " + std::to_string(state.next) +
                  " there are more");
  }
  std::set<std::uint64_t> reserved;
  std::optional<std::pair<std::uint64_t, int>> highest;  // the number and its line
  for (std::size_t i = 0; i < state.reservations.size(); ++i) {
    for (const std::uint64_t number : state.reservations[i].numbers) {
      reserved.insert(number);
      if (!highest || number > highest->first) highest = {{number, lines.reserved[i]}};
    }
  }
  // Run out, the next number is the last there was, and was given.
  if (highest && (state.runOut ? highest->first > state.next : highest->first >= state.next)) {
    untrusted(path, state.nextLine, "next " + std::to_string(state.next),
              "is not above " + std::to_string(highest->first) + ", which line " +
                  std::to_string(highest->second) +
                  " reserved: set back by hand, or an old copy put back, it would give numbers "
                  "again; next must be above every number reserved");
  }
  std::set<std::uint64_t> returned;
  for (const std::uint64_t number : state.returned) {
    const std::string what = "gives " + std::to_string(number) + " back";
    if (reserved.count(number) == 0) {
      untrusted(path, state.returnedLine, state.returnedText, what + ", but no line reserved it");
    }
    if (!returned.insert(number).second) {
      untrusted(path, state.returnedLine, state.returnedText, what + " twice");
    }
  }
}

}  // namespace

std::string SerialLedger::text(const LedgerState& state) {
  std::string text = std::string(kFirstLine) + "\n";
  text += "format " + std::string(formatWord(state.format)) + "\n";
  text += "width " + std::to_string(state.width) + "\n";
  text += "step " + std::to_string(state.step) + "\n";
  text += "next " + std::to_string(state.next) + "\n";
  text += std::string("run-out ") + (state.runOut ? "yes" : "no") + "\n";
  text += "returned";
  for (const std::uint64_t number : state.returned) text += " " + std::to_string(number);
  text += "\n";
  for (const LedgerState::Reservation& reservation : state.reservations) {
    text += "reserved " + reservation.time + " " + reservation.runId;
    for (const std::uint64_t number : reservation.numbers) text += " " + std::to_string(number);
    text += "\n";
  }
  return text;
}

LedgerState SerialLedger::parse(const std::string& text, const std::string& path) {
  std::istringstream lines(text);
  std::string line;
  // An editor on Windows saves the lines with CR LF.
  const auto nextLine = [&] {
    if (!std::getline(lines, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  };
  if (!nextLine() || line != kFirstLine) {
    throw LedgerError("the file " + path + " is not a serial number ledger");
  }
  LedgerState state;
  LineNumbers numbers;
  int at = 1;
  while (nextLine()) {
    ++at;
    std::istringstream words(line);
    std::string key;
    words >> key;
    std::vector<std::string> rest;
    for (std::string word; words >> word;) rest.push_back(word);
    auto one = [&]() -> const std::string& {
      if (rest.size() != 1) throw LedgerError("the ledger " + path + " has a broken line: " + line);
      return rest.front();
    };
    if (key == "format") {
      const std::optional<SerialFormat> format = parseSerialFormat(one());
      if (!format) throw LedgerError("the ledger " + path + " names no format it knows: " + line);
      state.format = *format;
    } else if (key == "width") {
      const std::uint64_t width = numberIn(one(), path);
      if (width > 20) throw LedgerError("the ledger " + path + " has a broken line: " + line);
      state.width = static_cast<int>(width);
    } else if (key == "step") {
      state.step = numberIn(one(), path);
      if (state.step == 0) throw LedgerError("the ledger " + path + " steps by 0");
    } else if (key == "next") {
      state.next = numberIn(one(), path);
      state.nextLine = at;
    } else if (key == "run-out") {
      state.runOut = one() == "yes";
      numbers.runOut = at;
      numbers.runOutText = line;
    } else if (key == "returned") {
      for (const std::string& word : rest) state.returned.push_back(numberIn(word, path));
      state.returnedLine = at;
      state.returnedText = line;
    } else if (key == "reserved") {
      if (rest.size() < 2) throw LedgerError("the ledger " + path + " has a broken line: " + line);
      LedgerState::Reservation reservation{rest[0], rest[1], {}};
      for (std::size_t i = 2; i < rest.size(); ++i)
        reservation.numbers.push_back(numberIn(rest[i], path));
      state.reservations.push_back(std::move(reservation));
      numbers.reserved.push_back(at);
    } else if (!key.empty()) {
      throw LedgerError("the ledger " + path + " has a line it should not: " + line);
    }
  }
  if (state.nextLine == 0) throw LedgerError("the ledger " + path + " holds no next number");
  checkWhole(state, numbers, path);
  return state;
}

}  // namespace tandra
