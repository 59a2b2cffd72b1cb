#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "PipelineSoakLine.h"

namespace tandra::test {

struct PipelineRun;

// A seeded soak of the whole command-line pipeline, in this process: each run draws a device
// type, the sockets, the images (one file in any format, an image per socket, a split bus image),
// serial numbers, sets one after another with chips changed between them, and faults (a lost,
// cut or paused reply, a pulled cable, a stop signal, a failing standard output, a log that
// fills up), runs `tandra-cli program` on a virtual programmer, and then reads every chip back.
// Runs on the soak's one ledger and log (SoakLine) meet more: refusals at every point before a
// chip, hand edits and old copies of the ledger, and another station taking numbers while a
// prompt waits. It holds the run to what a production line relies on: a chip reported passed
// (in a result line, the record or the log) holds exactly its image with its serial number; no
// number is on two chips that passed or that were sent their stamp's page, in a run or over
// the ledger's runs; a prompt's numbers are its set's; a refused run spends no number and says
// why (an edited ledger by its line); every chip an operation had is in the log once, or named
// as missing from it; and the exit code, the closing line, the record's counts and the log
// agree.
class PipelineSoak {
 public:
  struct Figures {
    std::uint64_t runs = 0;
    std::uint64_t sets = 0;
    std::uint64_t chips = 0;       // chips an operation had
    std::uint64_t passes = 0;      // chips reported passed
    std::uint64_t refused = 0;     // runs refused before a chip was touched
    std::uint64_t stopped = 0;     // runs a signal or a lost programmer cut short
    std::uint64_t faults = 0;      // faults injected
    std::uint64_t ledgerRuns = 0;  // runs numbered from the shared ledger (refused ones included)
    std::uint64_t troubles = 0;    // of those, refused at a point before a chip, or by an edit
    std::uint64_t races = 0;       // prompts at which another station took numbers
    std::uint64_t carried = 0;     // numbers on chips that passed or were sent their stamp's page
    std::uint64_t falsePasses = 0;
    std::uint64_t serialRepeats = 0;
    std::uint64_t spentByRefused = 0;  // numbers reserved by runs refused before a chip
    std::uint64_t unloggedChips = 0;
    std::uint64_t disagreements = 0;  // exit code, closing line, record and log at odds
    bool clean() const {
      return falsePasses == 0 && serialRepeats == 0 && spentByRefused == 0 && unloggedChips == 0 &&
             disagreements == 0;
    }
  };

  explicit PipelineSoak(std::uint32_t seed);
  ~PipelineSoak();
  PipelineSoak(const PipelineSoak&) = delete;
  PipelineSoak& operator=(const PipelineSoak&) = delete;

  void run(std::uint64_t count);

  std::uint32_t seed() const { return seed_; }
  const Figures& figures() const { return figures_; }
  // What broke, one line each, with the run's number and what it was.
  const std::vector<std::string>& findings() const { return findings_; }

 private:
  void runOne(std::uint64_t number);
  void check(const PipelineRun& run);
  // What a ledger run's trouble came to, and what its chips add to the line's numbers.
  void checkLine(const PipelineRun& run, const SoakLine::Refusal& refusal);
  void find(const PipelineRun& run, std::uint64_t& counter, const std::string& what);

  std::uint32_t seed_;
  std::string folder_;
  std::unique_ptr<SoakLine> line_;
  int runsOnThisLog_ = 0;
  // Numbers the shared ledger gave to chips that passed, and to chips that passed or were sent
  // their stamp's page, over every run so far.
  std::set<std::uint64_t> ledgerPassed_;
  std::set<std::uint64_t> ledgerCarried_;
  Figures figures_;
  std::vector<std::string> findings_;
};

}  // namespace tandra::test
