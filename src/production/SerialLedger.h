#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "production/SerialNumbers.h"

namespace tandra {

// A ledger that cannot be read, made or written; the message says why.
struct LedgerError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What a ledger holds: how its numbers are written, the next one, the numbers of failed chips
// that are to be given again, and every reservation made from it.
struct LedgerState {
  SerialFormat format = SerialFormat::LittleEndian;
  int width = 0;  // bytes; 0 for the format's own
  std::uint64_t step = 1;
  std::uint64_t next = 0;
  bool runOut = false;  // the last number there is has been given
  std::deque<std::uint64_t> returned;
  struct Reservation {
    std::string time;
    std::string runId;
    std::vector<std::uint64_t> numbers;
  };
  std::vector<Reservation> reservations;
};

// The serial numbers of a production line, kept in a small text file that every run (and every
// programmer) on the line takes its numbers from. A set reserves its numbers before any of its
// chips is programmed: the ledger is rewritten whole and handed to the disk under a lock, so
// that two programs on one ledger never take one number, and a crash or a kill can only leave
// numbers spent, never give one twice.
class SerialLedger final : public SerialSource {
 public:
  // Makes a new ledger; refuses when `path` exists already.
  static void create(const std::string& path, const LedgerState& state);
  // Reads the ledger at `path`; throws LedgerError when it is not one.
  static LedgerState read(const std::string& path);

  // A ledger in use by this run; `reuseFailed`: failed chips' numbers go back into it.
  SerialLedger(std::string path, std::string runId, bool reuseFailed);

  std::optional<std::vector<std::uint64_t>> take(int count) override;
  void failed(std::uint64_t number) override;
  std::vector<std::uint64_t> upcoming(int count) const override;

  const std::string& path() const { return path_; }

  // The ledger as text, and read from text (both exposed for tests).
  static std::string text(const LedgerState& state);
  static LedgerState parse(const std::string& text, const std::string& path);

 private:
  std::string path_;
  std::string runId_;
  bool reuseFailed_;
};

// The numbers a ledger reserved that no passed chip in the log at `logPath` holds: the chips a
// crash, a stop or a failure left without a line that says passed.
std::vector<std::uint64_t> numbersWithoutAPass(const LedgerState& ledger,
                                               const std::string& logPath);

}  // namespace tandra
