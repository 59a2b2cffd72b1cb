// The long soak of the whole command-line pipeline: pipeline-soak [seed] [runs]. Without a seed
// one is taken from the clock; the seed is printed first, so that a finding can be run again.
#include <chrono>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <optional>

#include "PipelineSoak.h"
#include "common/Words.h"

namespace {

std::optional<std::uint64_t> number(const char* text, std::uint64_t largest) {
  const tandra::UnsignedNumber parsed = tandra::parseUnsigned(text);
  if (!parsed || parsed.value > largest) return std::nullopt;
  return parsed.value;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<std::uint64_t> seed =
      argc > 1 ? number(argv[1], UINT32_MAX)
               : std::optional<std::uint64_t>(static_cast<std::uint32_t>(
                     std::chrono::system_clock::now().time_since_epoch().count()));
  const std::optional<std::uint64_t> runs =
      argc > 2 ? number(argv[2], UINT64_MAX) : std::optional<std::uint64_t>(10000);
  if (argc > 3 || !seed || !runs) {
    std::cerr << "usage: pipeline-soak [seed] [runs]: seed 0 to 4294967295, runs a count\n";
    return 2;
  }
  std::cout << "pipeline soak, seed " << *seed << std::endl;
  const auto started = std::chrono::steady_clock::now();
  tandra::test::PipelineSoak soak(static_cast<std::uint32_t>(*seed));
  soak.run(*runs);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const auto& f = soak.figures();
  std::cout << "runs                  " << f.runs << " (" << f.refused
            << " refused before a chip was touched, " << f.stopped << " stopped)\n"
            << "sets                  " << f.sets << "\n"
            << "chips                 " << f.chips << ", " << f.passes << " reported passed\n"
            << "faults injected       " << f.faults << "\n"
            << "shared-ledger runs    " << f.ledgerRuns << " (" << f.troubles
            << " refused before a chip or for a hand edit, " << f.races
            << " prompts raced by another station)\n"
            << "numbers carried       " << f.carried
            << " (on chips that passed or were sent their stamp's page)\n"
            << "false passes          " << f.falsePasses << "\n"
            << "serial repeats        " << f.serialRepeats << "\n"
            << "numbers spent by refused runs " << f.spentByRefused << "\n"
            << "unlogged chips        " << f.unloggedChips << "\n"
            << "disagreements         " << f.disagreements << "\n"
            << "wall time             " << std::fixed << std::setprecision(1) << seconds << " s\n";
  for (const std::string& finding : soak.findings()) std::cout << "  " << finding << "\n";
  return f.clean() ? 0 : 1;
}
