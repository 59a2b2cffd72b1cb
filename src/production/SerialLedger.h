#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "production/LoggedNumbers.h"
#include "production/SerialNumbers.h"

namespace tandra {

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
  // Where `next` and `returned` stood in the file read, and the `returned` line as it read
  // there, for the messages that name them; 0 for a state not read from a file.
  int nextLine = 0;
  int returnedLine = 0;
  std::string returnedText;
};

// The serial numbers of a production line, kept in a small text file that every run (and every
// programmer) on the line takes its numbers from. A set reserves its numbers before any of its
// chips is programmed: the ledger is rewritten whole and handed to the disk under a lock, so
// that two programs on one ledger never take one number, and a crash or a kill can only leave
// numbers spent, never give one twice. Every read checks that the ledger is whole, for a ledger
// set back by hand or an old copy put back would give numbers again.
class SerialLedger final : public SerialSource {
 public:
  // Makes a new ledger; refuses when `path` exists already.
  static void create(const std::string& path, const LedgerState& state);
  // Reads the ledger at `path`; throws LedgerError when it is not one, or not a whole one: its
  // next number not above every number it reserved, a number to be given again that it never
  // reserved or holds twice, or a run-out the numbers have not reached. The message names the
  // line.
  static LedgerState read(const std::string& path);
  // Reads the ledger and holds it against the log `logged` reads on (see holdAgainstLog), both
  // under the ledger's lock: a station that reserves numbers and logs them meanwhile would make
  // the ledger look older than the log.
  static LedgerState readAgainstLog(const std::string& path, LoggedNumbers& logged);

  // A ledger in use by this run; `reuseFailed`: failed chips' numbers go back into it where the
  // chips do not carry them. With `logPath`, the production log the run writes, it is held
  // against the log too, at once and at every reservation: a number to be given again that a
  // chip that passed holds, or a chip holding a number at or above its next one (an old copy
  // put back), is refused.
  SerialLedger(std::string path, std::string runId, bool reuseFailed, std::string logPath = {});

  SerialTake take(int count, const SerialFits& fits) override;
  SerialTake peek(int count, const SerialFits& fits) const override;
  bool failed(std::uint64_t number) override;
  void giveBack(const std::vector<std::uint64_t>& numbers) override;
  std::vector<std::uint64_t> upcoming(int count) const override;

  const std::string& path() const { return path_; }

  // The ledger as text, and read from text (both exposed for tests).
  static std::string text(const LedgerState& state);
  static LedgerState parse(const std::string& text, const std::string& path);

 private:
  // The ledger as it stands, read and held against the log.
  LedgerState checked();

  std::string path_;
  std::string runId_;
  bool reuseFailed_;
  std::optional<LoggedNumbers> log_;
};

// The numbers a ledger reserved that no passed chip in the log at `logPath` holds: the chips a
// crash, a stop or a failure left without a line that says passed.
std::vector<std::uint64_t> numbersWithoutAPass(const LedgerState& ledger,
                                               const std::string& logPath);
// Throws LedgerError where the ledger at `path` does not agree with the log `logged` has read: a
// number it is to give again is on a chip that passed, or a chip holds a number at or above its
// next one.
void holdAgainstLog(const LedgerState& ledger, const std::string& path,
                    const LoggedNumbers& logged);

}  // namespace tandra
