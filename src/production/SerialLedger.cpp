#include "production/SerialLedger.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
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

// The ledger's count of numbers, and the state it came from after a take.
SerialCount countOf(const LedgerState& state) {
  return SerialCount{state.next, state.step, state.runOut, state.returned};
}
void keepCount(LedgerState& state, const SerialCount& count) {
  state.next = count.next;
  state.runOut = count.runOut;
  state.returned = count.returned;
}

}  // namespace

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

LedgerState SerialLedger::readAgainstLog(const std::string& path, LoggedNumbers& logged) {
  read(path);  // no lock file is left beside a ledger that is not there
  const LedgerLock lock(path);
  LedgerState state = read(path);
  logged.readOn();
  holdAgainstLog(state, path, logged);
  return state;
}

SerialLedger::SerialLedger(std::string path, std::string runId, bool reuseFailed,
                           std::string logPath)
    : path_(std::move(path)), runId_(std::move(runId)), reuseFailed_(reuseFailed) {
  // A ledger that is not one, or not a whole one, is refused before anything else happens.
  if (logPath.empty()) {
    read(path_);
    return;
  }
  log_.emplace(std::move(logPath));
  readAgainstLog(path_, *log_);
}

// Under the ledger's lock, taken by the caller.
LedgerState SerialLedger::checked() {
  LedgerState state = read(path_);
  if (log_) {
    log_->readOn();
    holdAgainstLog(state, path_, *log_);
  }
  return state;
}

SerialTake SerialLedger::take(int count, const SerialFits& fits) {
  const LedgerLock lock(path_);
  LedgerState state = checked();
  SerialCount numbers = countOf(state);
  SerialTake taken = numbers.take(count, fits);
  if (!taken) return taken;
  keepCount(state, numbers);
  state.reservations.push_back({isoTime(std::chrono::system_clock::now()), runId_, taken.numbers});
  writeWhole(path_, text(state));
  return taken;
}

SerialTake SerialLedger::peek(int count, const SerialFits& fits) const {
  SerialCount numbers = countOf(read(path_));
  return numbers.take(count, fits);
}

bool SerialLedger::failed(std::uint64_t number) {
  if (!reuseFailed_) return false;  // spent: no other chip gets it
  const LedgerLock lock(path_);
  LedgerState state = read(path_);
  state.returned.push_back(number);
  writeWhole(path_, text(state));
  return true;
}

void SerialLedger::giveBack(const std::vector<std::uint64_t>& numbers) {
  if (numbers.empty()) return;
  const LedgerLock lock(path_);
  LedgerState state = read(path_);
  state.returned.insert(state.returned.begin(), numbers.begin(), numbers.end());
  writeWhole(path_, text(state));
}

std::vector<std::uint64_t> SerialLedger::upcoming(int count) const {
  SerialCount numbers = countOf(read(path_));
  std::vector<std::uint64_t> upcoming;
  for (int i = 0; i < count; ++i) {
    const SerialTake one = numbers.take(1, {});
    if (!one) break;
    upcoming.push_back(one.numbers.front());
  }
  return upcoming;
}

void holdAgainstLog(const LedgerState& ledger, const std::string& path,
                    const LoggedNumbers& logged) {
  for (const std::uint64_t number : ledger.returned) {
    if (logged.passed().count(number) == 0) continue;
    throw LedgerError("the ledger " + path + " cannot be trusted: line " +
                      std::to_string(ledger.returnedLine) + ", '" + ledger.returnedText +
                      "', gives " + std::to_string(number) +
                      " back, but a chip that passed holds it in the log " + logged.path());
  }
  const std::optional<std::uint64_t>& highest = logged.highest();
  // Run out, the next number is the last there was, and was given.
  if (!highest || *highest < ledger.next || (ledger.runOut && *highest == ledger.next)) return;
  throw LedgerError("the ledger " + path + " is older than the log " + logged.path() +
                    ": a chip there holds " + std::to_string(*highest) +
                    ", at or above the ledger's next number, " + std::to_string(ledger.next) +
                    " (line " + std::to_string(ledger.nextLine) +
                    "): restore it, or start a new one above " + std::to_string(*highest));
}

std::vector<std::uint64_t> numbersWithoutAPass(const LedgerState& ledger,
                                               const std::string& logPath) {
  std::error_code ignored;
  if (!std::filesystem::exists(logPath, ignored)) {
    throw LedgerError("the log " + logPath + " cannot be read: " + std::strerror(ENOENT));
  }
  LoggedNumbers logged(logPath);
  logged.readOn();
  std::vector<std::uint64_t> without;
  std::set<std::uint64_t> listed;
  for (const LedgerState::Reservation& reservation : ledger.reservations) {
    for (const std::uint64_t number : reservation.numbers) {
      if (logged.passed().count(number) == 0 && listed.insert(number).second) {
        without.push_back(number);
      }
    }
  }
  return without;
}

}  // namespace tandra
