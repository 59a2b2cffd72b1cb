#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tandra::test {

// What befalls a run on the soak's shared ledger before any chip is touched: a refusal at each
// point where a set can be refused, or a ledger edited by hand between runs.
enum class Trouble {
  None,
  NoProgrammer,
  OldFirmware,
  LogCannotOpen,
  NumberTooLong,  // a ledger whose numbers do not fit its one byte
  StampOverData,
  NextSetBack,
  ReturnedUsed,  // a number on a chip that passed, given back by hand
  OldCopy,       // a copy of the ledger an editor kept open, saved over it
  Spoilt,        // junk where a number belongs
};
const char* troubleName(Trouble trouble);

// The soak's production line: one serial number ledger and one log that every ledger run
// shares, as the stations of a line do, and what is done to them between runs: hand edits, old
// copies put back, and another station taking numbers while a prompt waits.
class SoakLine {
 public:
  using Random = std::mt19937;

  explicit SoakLine(std::string folder);

  const std::string& ledger() const { return ledger_; }
  const std::string& narrowLedger() const { return narrow_; }
  const std::string& log() const { return log_; }
  // A new ledger (going on from the last one's next number) and a new log, so that a long
  // soak's runs read logs of a bounded size.
  void rotate();

  // The trouble of a ledger run, often none; none too when the one drawn cannot be had now.
  Trouble draw(Random& random) const;
  // Before the run: the ledger edited as `trouble` says, and its text kept.
  void before(Trouble trouble, Random& random);
  struct Refusal {
    bool untouched = true;           // the ledger the run used is as the run found it
    std::uint64_t numbersSpent = 0;  // numbers the run reserved there
  };
  // After the run: what it did to the ledger it used; an edited ledger is put right.
  Refusal after(Trouble trouble);
  // What the run's refusal says, in one of these words.
  static std::vector<std::string> words(Trouble trouble);
  // The exit code a run refused so ends with.
  static int exitCode(Trouble trouble);

  // Another station on the line takes `count` numbers, as it does while a prompt waits.
  void otherStation(int count);
  // A run on the ledger ended: the numbers its log lines hold, and those of chips that passed.
  void ran(const std::vector<std::uint64_t>& logged, const std::vector<std::uint64_t>& passed);

 private:
  std::string folder_;
  int generation_ = 0;
  std::string ledger_;
  std::string narrow_;
  std::string log_;
  std::string copyBefore_;  // the ledger before the last run without trouble
  std::string oldCopy_;     // a copy the log shows to be old: a chip holds a number past its next
  std::vector<std::uint64_t> passed_;  // numbers on chips that passed, in this log
  std::string kept_;                   // the ledger as the run found it, before any edit
  std::string edited_;                 // the ledger the run used, after the edit
};

}  // namespace tandra::test
