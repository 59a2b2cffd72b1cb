#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tandra::test {

struct PipelineRun;

// A seeded soak of the whole command-line pipeline, in this process: each run draws a device
// type, the sockets, the images (one file in any format, an image per socket, a split bus image),
// serial numbers, sets one after another with chips changed between them, and faults (a lost,
// cut or paused reply, a pulled cable, a stop signal, a failing standard output, a log that
// fills up), runs `tandra-cli program` on a virtual programmer, and then reads every chip back.
// It holds the run to what a production line relies on: a chip reported passed (in a result
// line, the record or the log) holds exactly its image with its serial number; no serial number
// is given twice; every chip an operation had is in the log once, or named as missing from it;
// and the exit code, the closing line, the record's counts and the log agree.
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
    std::uint64_t ledgerRuns = 0;  // runs numbered from the shared ledger (spoilt ones included)
    std::uint64_t falsePasses = 0;
    std::uint64_t serialRepeats = 0;
    std::uint64_t unloggedChips = 0;
    std::uint64_t disagreements = 0;  // exit code, closing line, record and log at odds
    bool clean() const {
      return falsePasses == 0 && serialRepeats == 0 && unloggedChips == 0 && disagreements == 0;
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
  void find(const PipelineRun& run, std::uint64_t& counter, const std::string& what);

  std::uint32_t seed_;
  std::string folder_;
  std::string ledgerPath_;
  // Numbers the shared ledger gave to chips that passed, over every run so far.
  std::set<std::uint64_t> ledgerPassed_;
  Figures figures_;
  std::vector<std::string> findings_;
};

}  // namespace tandra::test
