#include "production/SerialLedger.h"
#include "common/Words.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

#include "common/FileNames.h"
#include "production/RunRecords.h"

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

// Holds the ledger's lock file locked while it lives: every reader and writer of one ledger
// takes it, so one reservation is read, changed and written before the next begins.
class LedgerLock {
 public:
  explicit LedgerLock(const std::string& ledger) {
    const std::string path = ledger + ".lock";
#if defined(_WIN32)
    descriptor_ = ::_wopen(fileSystemPath(path).c_str(), _O_RDWR | _O_CREAT | _O_BINARY,
                           _S_IREAD | _S_IWRITE);
    if (descriptor_ < 0) fail(path);
    OVERLAPPED whole{};
    if (!LockFileEx(reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor_)),
                    LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
      fail(path);
    }
#else
    descriptor_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor_ < 0) fail(path);
    while (::flock(descriptor_, LOCK_EX) != 0) {
      if (errno != EINTR) fail(path);
    }
#endif
  }
  ~LedgerLock() {
#if defined(_WIN32)
    ::_close(descriptor_);
#else
    ::close(descriptor_);  // lets the lock go
#endif
  }
  LedgerLock(const LedgerLock&) = delete;
  LedgerLock& operator=(const LedgerLock&) = delete;

 private:
  [[noreturn]] void fail(const std::string& path) {
    const std::string why = std::strerror(errno);
    if (descriptor_ >= 0) {
#if defined(_WIN32)
      ::_close(descriptor_);
#else
      ::close(descriptor_);
#endif
    }
    throw LedgerError("the ledger's lock " + path + " cannot be taken: " + why);
  }

  int descriptor_ = -1;
};

std::string readWhole(const std::string& path) {
  std::ifstream in(fileSystemPath(path), std::ios::binary);
  if (!in) throw LedgerError("the ledger " + path + " cannot be read: " + std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The new ledger beside the old, on the disk, then in its place: a crash leaves one or the other
// whole, never half of one.
void writeWhole(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".new";
  {
#if defined(_WIN32)
    const int descriptor =
        ::_wopen(fileSystemPath(temporary).c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                 _S_IREAD | _S_IWRITE);
#else
    const int descriptor =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
#endif
    if (descriptor < 0) {
      throw LedgerError("the ledger " + path + " cannot be written: " + std::strerror(errno));
    }
    std::size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
#if defined(_WIN32)
      const int wrote =
          ::_write(descriptor, text.data() + done, static_cast<unsigned>(text.size() - done));
#else
      const ssize_t wrote = ::write(descriptor, text.data() + done, text.size() - done);
#endif
      if (wrote < 0 && errno == EINTR) continue;
      ok = wrote > 0;
      if (ok) done += static_cast<std::size_t>(wrote);
    }
#if defined(_WIN32)
    ok = ok && ::_commit(descriptor) == 0;
    const int error = errno;
    ::_close(descriptor);
#else
    ok = ok && ::fsync(descriptor) == 0;
    const int error = errno;
    ::close(descriptor);
#endif
    if (!ok) {
      std::error_code ignored;
      std::filesystem::remove(fileSystemPath(temporary), ignored);
      throw LedgerError("the ledger " + path + " cannot be written: " + std::strerror(error));
    }
  }
  std::error_code failed;
  std::filesystem::rename(fileSystemPath(temporary), fileSystemPath(path), failed);
  if (failed) {
    std::error_code ignored;
    std::filesystem::remove(fileSystemPath(temporary), ignored);
    throw LedgerError("the ledger " + path + " cannot be written: " + failed.message());
  }
#if !defined(_WIN32)
  const std::string folder = std::filesystem::absolute(path).parent_path().string();
  const int directory = ::open(folder.c_str(), O_RDONLY | O_CLOEXEC);
  if (directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
#endif
}

// Takes `count` numbers from `state`: given-back ones first, then new ones; nothing when they run
// out before `count`.
std::optional<std::vector<std::uint64_t>> takeFrom(LedgerState& state, int count) {
  std::vector<std::uint64_t> numbers;
  for (int i = 0; i < count; ++i) {
    if (!state.returned.empty()) {
      numbers.push_back(state.returned.front());
      state.returned.pop_front();
      continue;
    }
    if (state.runOut) return std::nullopt;
    numbers.push_back(state.next);
    if (state.next > std::numeric_limits<std::uint64_t>::max() - state.step) {
      state.runOut = true;
    } else {
      state.next += state.step;
    }
  }
  return numbers;
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
  if (!std::getline(lines, line) || line != kFirstLine) {
    throw LedgerError("the file " + path + " is not a serial number ledger");
  }
  LedgerState state;
  bool sawNext = false;
  while (std::getline(lines, line)) {
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
      state.width = static_cast<int>(numberIn(one(), path));
    } else if (key == "step") {
      state.step = numberIn(one(), path);
      if (state.step == 0) throw LedgerError("the ledger " + path + " steps by 0");
    } else if (key == "next") {
      state.next = numberIn(one(), path);
      sawNext = true;
    } else if (key == "run-out") {
      state.runOut = one() == "yes";
    } else if (key == "returned") {
      for (const std::string& word : rest) state.returned.push_back(numberIn(word, path));
    } else if (key == "reserved") {
      if (rest.size() < 2) throw LedgerError("the ledger " + path + " has a broken line: " + line);
      LedgerState::Reservation reservation{rest[0], rest[1], {}};
      for (std::size_t i = 2; i < rest.size(); ++i)
        reservation.numbers.push_back(numberIn(rest[i], path));
      state.reservations.push_back(std::move(reservation));
    } else if (!key.empty()) {
      throw LedgerError("the ledger " + path + " has a line it should not: " + line);
    }
  }
  if (!sawNext) throw LedgerError("the ledger " + path + " holds no next number");
  return state;
}

void SerialLedger::create(const std::string& path, const LedgerState& state) {
  const LedgerLock lock(path);
  std::error_code ignored;
  if (std::filesystem::exists(fileSystemPath(path), ignored)) {
    throw LedgerError("the ledger " + path + " exists already: it is not started again");
  }
  if (state.step == 0) throw LedgerError("serial numbers must go up by at least 1");
  writeWhole(path, text(state));
}

LedgerState SerialLedger::read(const std::string& path) {
  return parse(readWhole(path), path);
}

SerialLedger::SerialLedger(std::string path, std::string runId, bool reuseFailed)
    : path_(std::move(path)), runId_(std::move(runId)), reuseFailed_(reuseFailed) {
  read(path_);  // a ledger that is not one is refused before anything else happens
}

std::optional<std::vector<std::uint64_t>> SerialLedger::take(int count) {
  const LedgerLock lock(path_);
  LedgerState state = read(path_);
  std::optional<std::vector<std::uint64_t>> numbers = takeFrom(state, count);
  if (!numbers) return std::nullopt;
  state.reservations.push_back({isoTime(std::chrono::system_clock::now()), runId_, *numbers});
  writeWhole(path_, text(state));
  return numbers;
}

void SerialLedger::failed(std::uint64_t number) {
  if (!reuseFailed_) return;  // spent: no other chip gets it
  const LedgerLock lock(path_);
  LedgerState state = read(path_);
  state.returned.push_back(number);
  writeWhole(path_, text(state));
}

std::vector<std::uint64_t> SerialLedger::upcoming(int count) const {
  LedgerState state = read(path_);
  std::vector<std::uint64_t> numbers;
  for (int i = 0; i < count; ++i) {
    std::optional<std::vector<std::uint64_t>> one = takeFrom(state, 1);
    if (!one) break;
    numbers.push_back(one->front());
  }
  return numbers;
}

std::vector<std::uint64_t> numbersWithoutAPass(const LedgerState& ledger,
                                               const std::string& logPath) {
  std::ifstream log(logPath, std::ios::binary);
  if (!log) throw LedgerError("the log " + logPath + " cannot be read: " + std::strerror(errno));
  std::set<std::uint64_t> passed;
  std::vector<std::string> columns;
  for (std::string line; std::getline(log, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line.front() == '{') {
      const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
      if (parsed.is_discarded() || !parsed.is_object() || parsed.value("result", "") != "passed")
        continue;
      const nlohmann::json& serial = parsed["serial_number"];
      if (serial.is_string()) {
        // A line some other program wrote may hold anything there: only a number counts.
        if (const UnsignedNumber number = parseUnsigned(serial.get<std::string>())) {
          passed.insert(number.value);
        }
      }
      if (serial.is_number_unsigned()) passed.insert(serial.get<std::uint64_t>());
      continue;
    }
    // CSV: the header names the columns; numbers and results hold no commas or quotes.
    std::vector<std::string> cells;
    std::string cell;
    bool quoted = false;
    for (const char c : line) {
      if (c == '"') {
        quoted = !quoted;
      } else if (c == ',' && !quoted) {
        cells.push_back(cell);
        cell.clear();
      } else {
        cell += c;
      }
    }
    cells.push_back(cell);
    if (columns.empty() || cells == columns) {
      columns = cells;
      continue;
    }
    const auto column = [&](const char* name) -> std::string {
      for (std::size_t i = 0; i < columns.size() && i < cells.size(); ++i) {
        if (columns[i] == name) return cells[i];
      }
      return "";
    };
    const UnsignedNumber serial = parseUnsigned(column("serial_number"));
    if (column("result") == "passed" && serial) passed.insert(serial.value);
  }
  std::vector<std::uint64_t> without;
  std::set<std::uint64_t> listed;
  for (const LedgerState::Reservation& reservation : ledger.reservations) {
    for (const std::uint64_t number : reservation.numbers) {
      if (passed.count(number) == 0 && listed.insert(number).second) without.push_back(number);
    }
  }
  return without;
}

}  // namespace tandra
