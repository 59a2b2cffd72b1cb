// Program and Verify of five 27C2001 on the virtual programmer with no simulated delay: the
// host's time per program and per read command, against the time a full-speed USB link needs
// to carry the same bytes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "BenchReport.h"
#include "TestHost.h"
#include "controller/Workbench.h"
#include "device/Catalogue.h"
#include "link/Trace.h"
#include "link/TracingApi.h"
#include "sim/VirtualProgrammer.h"

namespace {

using namespace tandra;

const int k27C2001Row = deviceListRow("27C2001");
constexpr double kFullSpeedBytesPerSecond = 12e6 / 8;  // the bus's raw rate, a lower bound

// The core on the virtual programmer; with `traced`, through a trace written to a file.
struct Bench {
  explicit Bench(bool traced = false)
      : trace(traced ? Trace::create(
                           (std::filesystem::temp_directory_path() / "bench.trace").string())
                     : nullptr),
        tracing(traced ? std::make_unique<TracingApi>(programmer, *trace) : nullptr),
        workbench(std::make_unique<Workbench>(
            tracing ? static_cast<FtApi&>(*tracing) : static_cast<FtApi&>(programmer), host)),
        bench(*workbench) {
    host.onWatchdog = [this] { bench.Timer1Timer(); };
    programmer.setRecordPackets(false);
    bench.FormCreate();
    bench.FormActivate();
    bench.selection.Device_BoxClick(k27C2001Row);
    bench.selection.Num_Of_DevicesClick(5);
    for (std::int32_t a = 0; a < ImageBuffer::kSize; ++a) {
      bench.session.image()[a] = static_cast<std::uint8_t>(a * 13 + (a >> 8));
    }
  }
  test::TestHost host;
  VirtualProgrammer programmer{host.clock};
  std::unique_ptr<Trace> trace;
  std::unique_ptr<TracingApi> tracing;
  std::unique_ptr<Workbench> workbench;
  Workbench& bench;
};

struct Totals {
  double linkSeconds = 0;
  std::uint64_t commands = 0;
};
Totals programTotals, verifyTotals, tracedTotals;

void measure(benchmark::State& state, Totals& totals, Operation operation,
             std::uint64_t commandsPerRun, bool traced = false) {
  Bench b(traced);
  for (auto _ : state) {
    state.PauseTiming();
    for (int s = 1; s <= 5; ++s) b.programmer.chip(s).erase();
    if (operation == Operation::Verify) b.bench.session.run(Operation::Program);
    const std::uint64_t before = b.programmer.bytesWritten() + b.programmer.bytesRead();
    state.ResumeTiming();
    b.bench.session.run(operation);
    state.PauseTiming();
    const std::uint64_t moved = b.programmer.bytesWritten() + b.programmer.bytesRead() - before;
    totals.linkSeconds += static_cast<double>(moved) / kFullSpeedBytesPerSecond;
    totals.commands += commandsPerRun;
    state.ResumeTiming();
  }
  state.counters["commands"] = static_cast<double>(commandsPerRun);
}

// 1,024 pages, each to five sockets.
void BM_Program5x27C2001(benchmark::State& state) {
  measure(state, programTotals, Operation::Program, 1024 * 5);
}
BENCHMARK(BM_Program5x27C2001)->Unit(benchmark::kMillisecond);

// The same with every packet written into a trace.
void BM_Program5x27C2001Traced(benchmark::State& state) {
  measure(state, tracedTotals, Operation::Program, 1024 * 5, true);
}
BENCHMARK(BM_Program5x27C2001Traced)->Unit(benchmark::kMillisecond);

// 128 blocks of 2,048 bytes, each read from five sockets.
void BM_Verify5x27C2001(benchmark::State& state) {
  measure(state, verifyTotals, Operation::Verify, 128 * 5);
}
BENCHMARK(BM_Verify5x27C2001)->Unit(benchmark::kMillisecond);

void report(const char* what, double hostNanosPerRun, const Totals& totals, std::uint64_t runs) {
  if (runs == 0) return;
  const double perCommandHost = hostNanosPerRun / (static_cast<double>(totals.commands) / runs);
  const double perCommandLink = totals.linkSeconds * 1e9 / static_cast<double>(totals.commands);
  std::printf(
      "%-8s host %7.2f us per command; a full-speed link needs %7.2f us for its bytes; "
      "host share %.1f%%\n",
      what, perCommandHost / 1000, perCommandLink / 1000,
      100.0 * perCommandHost / (perCommandHost + perCommandLink));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n");
  const double programRuns = static_cast<double>(programTotals.commands) / (1024 * 5);
  const double verifyRuns = static_cast<double>(verifyTotals.commands) / (128 * 5);
  report("Program", reporter.nanos("BM_Program5x27C2001"), programTotals,
         static_cast<std::uint64_t>(programRuns));
  report("Verify", reporter.nanos("BM_Verify5x27C2001"), verifyTotals,
         static_cast<std::uint64_t>(verifyRuns));
  const double tracedRuns = static_cast<double>(tracedTotals.commands) / (1024 * 5);
  report("Traced", reporter.nanos("BM_Program5x27C2001Traced"), tracedTotals,
         static_cast<std::uint64_t>(tracedRuns));
  const double plain = reporter.nanos("BM_Program5x27C2001");
  if (plain > 0) {
    std::printf("A trace costs Program %.2f us more per command (ratio %.2f to no trace)\n",
                (reporter.nanos("BM_Program5x27C2001Traced") - plain) / (1024 * 5) / 1000,
                reporter.nanos("BM_Program5x27C2001Traced") / plain);
  }
  benchmark::Shutdown();
  return 0;
}
