// tandra-cli as a script runs it: a whole process converting a 256 KiB image from Intel Hex to
// binary and back, against srec_cat doing the same in the same run, and the start-up of each.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "BenchReport.h"
#include "files/Savers.h"
#include "image/ImageBuffer.h"

namespace {

namespace fs = std::filesystem;

fs::path folder;  // scratch folder of this run
bool srecCatInstalled = false;

const std::string kCli = TANDRA_CLI_PATH;

const char* const kOursRoundTrip =
    "CLI convert -d 27C2001 image.hex ours.bin --quiet && "
    "CLI convert -d 27C2001 ours.bin ours.hex --quiet";
const char* const kToolRoundTrip =
    "srec_cat image.hex -Intel -o tool.bin -binary && "
    "srec_cat tool.bin -binary -o tool.hex -Intel -address-length=3 -obs 16 -crlf";

// The command with CLI standing for the program's path.
std::string withCli(std::string_view command) {
  std::string result;
  for (std::size_t at; (at = command.find("CLI")) != std::string_view::npos;) {
    result.append(command.substr(0, at)).append("'").append(kCli).append("'");
    command.remove_prefix(at + 3);
  }
  return result.append(command);
}

void timeProcess(benchmark::State& state, const std::string& command, bool needsSrecCat) {
  if (needsSrecCat && !srecCatInstalled) {
    state.SkipWithError("srec_cat not installed");
    return;
  }
  const std::string line = "cd '" + folder.string() + "' && { " + command + "; } >/dev/null 2>&1";
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(line.c_str());
    const auto stop = std::chrono::steady_clock::now();
    if (status != 0) {
      state.SkipWithError(("failed: " + command).c_str());
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
  }
}

void BM_RoundTrip(benchmark::State& state, bool ours) {
  timeProcess(state, ours ? withCli(kOursRoundTrip) : kToolRoundTrip, !ours);
}

void BM_StartUp(benchmark::State& state, bool ours) {
  timeProcess(state, ours ? withCli("CLI --version") : "srec_cat --version", !ours);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  folder =
      fs::temp_directory_path() / ("tandra-bench-cli-" + std::to_string(std::random_device()()));
  fs::create_directories(folder);
  {
    tandra::ImageBuffer image;
    image.deviceEndAddress = 0x3FFFF;
    std::mt19937 random(2024);
    for (std::int32_t a = 0; a <= image.deviceEndAddress; ++a) {
      image[a] = static_cast<std::uint8_t>(random() >> 24);
    }
    tandra::Save_Hex_File(image, (folder / "image.hex").string(), tandra::FileFormat::IntelHex);
  }
  srecCatInstalled = std::system("command -v srec_cat >/dev/null 2>&1") == 0;

  for (const bool ours : {true, false}) {
    const std::string who = ours ? "tandra-cli" : "srec_cat";
    benchmark::RegisterBenchmark(("RoundTrip/" + who).c_str(), BM_RoundTrip, ours)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark(("StartUp/" + who).c_str(), BM_StartUp, ours)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
  }
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  const double ours = reporter.nanos("RoundTrip/tandra-cli/manual_time");
  const double tool = reporter.nanos("RoundTrip/srec_cat/manual_time");
  std::printf("\n256 KiB image, Intel Hex to binary and back, two whole processes each\n");
  std::printf("tandra-cli %.1f ms, srec_cat %.1f ms", ours / 1e6, tool / 1e6);
  if (ours > 0 && tool > 0) std::printf(": tandra-cli faster by %.1fx", tool / ours);
  std::printf("\nstart-up alone: tandra-cli %.2f ms, srec_cat %.2f ms\n",
              reporter.nanos("StartUp/tandra-cli/manual_time") / 1e6,
              reporter.nanos("StartUp/srec_cat/manual_time") / 1e6);

  benchmark::Shutdown();
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return 0;
}
