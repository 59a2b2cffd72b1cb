// Host overhead of one command round trip: SendCommand + WaitReply through the transfer unit
// on the virtual programmer, against the bare driver calls that move the same bytes.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "BenchReport.h"
#include "TestHost.h"
#include "link/D2XXUnit.h"
#include "link/Link.h"
#include "sim/VirtualProgrammer.h"

namespace {

using namespace tandra;

struct Bench {
  Bench() {
    usb.setErrorReporting(false);
    usb.Open_USB_Device_By_Serial_Number("");
    usb.SetFTTimeouts(500, 0);
    link.connectionState = kIdentified;
  }
  test::TestHost host;
  VirtualProgrammer programmer{host.clock};
  D2XXUnit usb{programmer, host.events};
  Link link{usb, host.events};
};

void BM_IdleRoundTripThroughLink(benchmark::State& state) {
  Bench bench;
  for (auto _ : state) {
    bench.link.store(opcode::Idle);
    bench.link.SendCommand();
    bench.programmer.clearPackets();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IdleRoundTripThroughLink);

// The reference: the same 8 bytes out and 2,056 back with nothing around the two calls.
void BM_IdleRoundTripRawCalls(benchmark::State& state) {
  Bench bench;
  std::uint8_t packet[8] = {opcode::Idle, 0, 0, 0, 0, 0, 0, opcode::Idle};
  static std::uint8_t reply[2056];
  FtHandle handle = bench.usb.handle();
  for (auto _ : state) {
    std::uint32_t moved = 0;
    bench.programmer.Write(handle, packet, 8, &moved);
    bench.programmer.Read(handle, reply, sizeof reply, &moved);
    benchmark::DoNotOptimize(reply[0]);
    bench.programmer.clearPackets();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IdleRoundTripRawCalls);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double link = reporter.nanos("BM_IdleRoundTripThroughLink");
  const double raw = reporter.nanos("BM_IdleRoundTripRawCalls");
  if (link > 0 && raw > 0) {
    std::printf("\nRound trips per second through the link: %.0f (%.2f us per command)\n",
                1e9 / link, link / 1000.0);
    std::printf("Host overhead per command over the bare driver calls: %.2f us (ratio %.2f)\n",
                (link - raw) / 1000.0, link / raw);
  }
  benchmark::Shutdown();
  return 0;
}
