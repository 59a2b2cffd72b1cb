// The time an operation spends besides what the chips and the wire need, on the virtual
// programmer with realistic timing: blank check, verify and program of five 27C256, and a
// firmware update of 124 records. Each is measured, set against its modelled time (the wire
// and the chips busy, with a host that never keeps them waiting), and run twice: with the
// waits that end when a reply has come, and with full waits as the reference, where every
// reply whose data is not used waits out the 500 ms read time-out. The processor time of the
// process over each run is printed too.
//   bench_waits [--short]   (--short: no full-waits reference for Program and the update)
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "ProcessorTime.h"
#include "cli/Cli.h"
#include "cli/Console.h"
#include "cli/ConsoleHost.h"
#include "device/Catalogue.h"
#include "device/Session.h"
#include "sim/VirtualProgrammer.h"

namespace {

using namespace tandra;

const int k27C256Row = deviceListRow("27C256");

double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Run {
  double wallS = 0;
  double modelledS = 0;
  double cpuS = 0;
};

// A programmer and a session on it, connected, with five 27C256 and an image, driven as
// tandra-cli drives it with --quiet: real time, the watchdog on the clock, nothing drawn.
struct Bench {
  explicit Bench(bool fullWaits) {
    programmer.setRealisticTiming(true);
    host.attach(session);
    session.setFullWaits(fullWaits);
    for (std::int32_t a = 0; a < ImageBuffer::kSize; ++a) {
      session.image()[a] = static_cast<std::uint8_t>(a * 7 + (a >> 9));
    }
  }
  void ready() {
    session.connect();
    session.select(*catalogueEntry(k27C256Row), 5);
  }
  Run measure(const std::function<void()>& work) {
    programmer.resetModelledTime();
    const double cpu = cpuSeconds();
    const auto started = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - started;
    return {wall.count(), programmer.modelledMs() / 1000, cpuSeconds() - cpu};
  }

  VirtualProgrammer programmer;
  std::ostringstream out;
  std::ostringstream err;
  cli::CliIo io{out, err};
  cli::Console console{io, true};
  cli::ConsoleHost host{console, false, nullptr};
  Session session{programmer, host};
};

Run operation(Operation which, bool fullWaits, bool programmedFirst) {
  Bench bench(fullWaits);
  bench.ready();
  if (programmedFirst) bench.session.run(Operation::Program);
  return bench.measure([&] { bench.session.run(which); });
}

Run update(bool fullWaits, const std::string& file) {
  Bench bench(fullWaits);
  bench.programmer.setFirmwareVersion(1, 10);
  bench.host.updateFile = file;
  return bench.measure([&] { bench.session.connect(); });
}

void row(const char* what, const char* waits, const Run& run) {
  const double overhead = run.wallS - run.modelledS;
  std::printf("%-24s %-12s %9.2f %9.2f %9.3f %7.2fx %7.1f%%\n", what, waits, run.wallS,
              run.modelledS, overhead, run.wallS / run.modelledS, 100 * run.cpuS / run.wallS);
}

}  // namespace

int main(int argc, char** argv) {
  const bool shortRun = argc > 1 && std::strcmp(argv[1], "--short") == 0;
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / "bench-waits-update.bin";
  const std::vector<std::uint8_t> bytes = VirtualProgrammer::makeUpdateFile(124);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

  std::printf("%-24s %-12s %9s %9s %9s %8s %8s\n", "operation", "waits", "wall s", "model s",
              "fixed s", "ratio", "CPU");
  for (bool fullWaits : {false, true}) {
    const char* waits = fullWaits ? "full" : "until reply";
    row("Blank Check 27C256 x 5", waits, operation(Operation::BlankCheck, fullWaits, false));
    row("Verify 27C256 x 5", waits, operation(Operation::Verify, fullWaits, true));
    if (fullWaits && shortRun) continue;
    row("Program 27C256 x 5", waits, operation(Operation::Program, fullWaits, false));
    row("Update, 124 records", waits, update(fullWaits, file.string()));
  }
  std::filesystem::remove(file);
  return 0;
}
