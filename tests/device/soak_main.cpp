// The long soak of the programmer core under injected faults: soak [seed] [operations].
// Without a seed one is taken from the clock. The seed is printed first: running it again
// repeats every operation and fault, so whatever it found can be looked at again.
#include <chrono>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "HonestSoak.h"
#include "Soak.h"
#include "common/Words.h"

namespace {

std::optional<std::uint64_t> number(const char* text, std::uint64_t largest) {
  const tandra::UnsignedNumber parsed = tandra::parseUnsigned(text);
  if (!parsed || parsed.value > largest) return std::nullopt;
  return parsed.value;
}

void printFigures(const tandra::test::Soak& soak, double wallSeconds) {
  using tandra::test::Soak;
  const Soak::Figures& f = soak.figures();
  std::cout << "operations            " << f.operations << " (and " << f.cleanChecks
            << " on the clean link after them)\n"
            << "faults injected       ";
  for (std::size_t k = 0; k < Soak::kFaultKinds; ++k) {
    std::cout << (k == 0 ? "" : ", ") << Soak::faultName(static_cast<Soak::Fault>(k)) << " "
              << f.injected[k];
  }
  std::cout << "\nreplies changed       " << f.repliesChanged << "\n"
            << "sockets               " << f.socketsPassed << " passed, " << f.socketsFailed
            << " failed, " << f.socketsStopped << " stopped\n"
            << "false passes          " << f.falsePasses << "\n"
            << "hangs                 " << f.hangs << "\n"
            << "links not recovered   " << f.linksNotRecovered << "\n"
            << "other findings        " << f.otherFindings << "\n"
            << "masked by a flip      " << f.passesMaskedByFlippedBits
            << " (a bit flipped on the way made a bad byte look good)\n"
            << "longest operation     " << std::fixed << std::setprecision(1)
            << static_cast<double>(f.longestOperationMs) / 1000 << " s on the programmer's clock\n"
            << "wall time             " << wallSeconds << " s\n";
}

void printFindings(const std::vector<std::string>& findings) {
  for (std::size_t i = 0; i < findings.size() && i < 20; ++i) std::cout << findings[i] << "\n";
  if (findings.size() > 20) std::cout << "... and " << findings.size() - 20 << " more\n";
}

void printHonestFigures(const tandra::test::HonestSoak& soak, double wallSeconds) {
  const tandra::test::HonestSoak::Figures& f = soak.figures();
  std::cout << "\nan honest programmer on an unsteady host and line\n"
            << "operations            " << f.operations << "\n"
            << "conditions            host held up " << f.heldUpMs / 1000 << " s in all, "
            << f.pausedReplies << " replies paused, " << f.trickledReplies
            << " operations with replies trickling\n"
            << "sockets               " << f.socketsPassed << " passed, " << f.socketsFailed
            << " failed (chips that truly fail)\n"
            << "stopped runs          " << f.stoppedRuns << "\n"
            << "false alarms          " << f.falseAlarms << "\n"
            << "false passes          " << f.falsePasses << "\n"
            << "wall time             " << std::fixed << std::setprecision(1) << wallSeconds
            << " s\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 3) {
    std::cerr << "usage: soak [seed] [operations]\n";
    return 2;
  }
  std::optional<std::uint64_t> seed = argc > 1 ? number(argv[1], UINT32_MAX) : std::nullopt;
  const std::optional<std::uint64_t> operations =
      argc > 2 ? number(argv[2], UINT64_MAX) : std::optional<std::uint64_t>(10000);
  if ((argc > 1 && !seed) || !operations) {
    std::cerr << "usage: soak [seed] [operations]: seed 0 to 4294967295, operations a count\n";
    return 2;
  }
  if (!seed) {
    seed = static_cast<std::uint32_t>(std::chrono::system_clock::now().time_since_epoch().count() &
                                      0xFFFFFFFF);
  }
  std::cout << "seed                  " << *seed << std::endl;

  const auto started = std::chrono::steady_clock::now();
  tandra::test::Soak soak(static_cast<std::uint32_t>(*seed));
  soak.run(*operations);
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - started;

  printFigures(soak, wall.count());
  printFindings(soak.findings());

  // The same number of operations on an honest programmer, on an unsteady host and line.
  const auto honestStarted = std::chrono::steady_clock::now();
  tandra::test::HonestSoak honest(static_cast<std::uint32_t>(*seed));
  honest.run(*operations);
  const std::chrono::duration<double> honestWall = std::chrono::steady_clock::now() - honestStarted;
  printHonestFigures(honest, honestWall.count());
  printFindings(honest.findings());
  if (!soak.figures().clean() || !honest.figures().clean()) {
    std::cout << "FAILED: run `soak " << *seed << " " << *operations << "` to see it again\n";
    return 1;
  }
  return 0;
}
