// Loading and saving a 256 KiB image in each text format, against the same conversion done by
// a tool nobody here wrote, in the same run: srec_cat for Intel Hex and S-records, xxd for plain
// hex pairs (srec_cat has no such format). The tools' times include starting their process,
// which is what an operator waits for too; the start-up alone is printed as well.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "BenchReport.h"
#include "files/Loaders.h"
#include "files/Savers.h"
#include "image/ImageBuffer.h"

namespace {

using namespace tandra;
namespace fs = std::filesystem;

constexpr std::int32_t kDeviceEnd = 0x3FFFF;
constexpr double kImageBytes = kDeviceEnd + 1;

fs::path folder;  // scratch folder of this run

std::string in(const char* name) {
  return (folder / name).string();
}

struct TextFormat {
  const char* name;
  FileFormat format;
  const char* file;      // our saved file, which both loaders read
  const char* toolSave;  // binary image to this format
  const char* toolLoad;  // our saved file back to a binary image
};

// The tools write what our saver writes: segment records, 16 bytes a record, CR LF.
const TextFormat kFormats[] = {
    {"Intel", FileFormat::IntelHex, "ours.hex",
     "srec_cat image.bin -binary -o tool.hex -Intel -address-length=3 -obs 16 -crlf",
     "srec_cat ours.hex -Intel -o back.bin -binary"},
    {"Motorola", FileFormat::MotorolaHex, "ours.s28",
     "srec_cat image.bin -binary -o tool.s28 -Motorola -address-length=3 -obs 16 -crlf",
     "srec_cat ours.s28 -Motorola -o back.bin -binary"},
    {"AsciiHex", FileFormat::AsciiHex, "ours.txt", "xxd -p -c 16 image.bin tool.txt",
     "xxd -r -p ours.txt back.bin"},
};

bool toolsInstalled = false;

ImageBuffer& image() {
  static ImageBuffer buffer = [] {
    ImageBuffer b;
    b.deviceEndAddress = kDeviceEnd;
    std::mt19937 random(2024);
    for (std::int32_t a = 0; a <= kDeviceEnd; ++a) b[a] = static_cast<std::uint8_t>(random() >> 24);
    return b;
  }();
  return buffer;
}

bool runInFolder(const std::string& command) {
  const std::string line = "cd '" + folder.string() + "' && " + command + " 2>/dev/null";
  return std::system(line.c_str()) == 0;
}

void BM_OurSave(benchmark::State& state, const TextFormat& f) {
  const std::string path = in(f.file);
  for (auto _ : state) Save_Hex_File(image(), path, f.format);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (kDeviceEnd + 1));
}

void BM_OurLoad(benchmark::State& state, const TextFormat& f) {
  const std::string path = in(f.file);
  Save_Hex_File(image(), path, f.format);
  ImageBuffer target;
  target.deviceEndAddress = kDeviceEnd;
  for (auto _ : state) benchmark::DoNotOptimize(Load_Hex_File(target, path));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (kDeviceEnd + 1));
}

void timeTool(benchmark::State& state, const std::string& command, bool convertsTheImage = true) {
  if (!toolsInstalled) {
    state.SkipWithError("srec_cat or xxd not installed");
    return;
  }
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok = runInFolder(command);
    const auto stop = std::chrono::steady_clock::now();
    if (!ok) {
      state.SkipWithError(("failed: " + command).c_str());
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
  }
  if (convertsTheImage)
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * (kDeviceEnd + 1));
}

void BM_ToolSave(benchmark::State& state, const TextFormat& f) {
  timeTool(state, f.toolSave);
}

void BM_ToolLoad(benchmark::State& state, const TextFormat& f) {
  Save_Hex_File(image(), in(f.file), f.format);
  timeTool(state, f.toolLoad);
}

// A 16-byte conversion: what starting the tool costs by itself.
void BM_ToolStartUp(benchmark::State& state) {
  timeTool(state, "srec_cat tiny.bin -binary -o tiny.hex -Intel", false);
}

void registerAll() {
  for (const TextFormat& f : kFormats) {
    const std::string name = f.name;
    benchmark::RegisterBenchmark(("Save/ours/" + name).c_str(), BM_OurSave, f)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("Save/tool/" + name).c_str(), BM_ToolSave, f)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
    benchmark::RegisterBenchmark(("Load/ours/" + name).c_str(), BM_OurLoad, f)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark(("Load/tool/" + name).c_str(), BM_ToolLoad, f)
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
  }
  benchmark::RegisterBenchmark("StartUp/tool", BM_ToolStartUp)
      ->Unit(benchmark::kMillisecond)
      ->UseManualTime();
}

double megabytesPerSecond(double nanos) {
  return nanos > 0 ? kImageBytes / nanos * 1e3 : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::random_device random;
  folder = fs::temp_directory_path() / ("tandra-bench-files-" + std::to_string(random()));
  fs::create_directories(folder);
  {
    std::ofstream(in("image.bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(image().data()), kDeviceEnd + 1);
    std::ofstream(in("tiny.bin"), std::ios::binary).write("0123456789abcdef", 16);
  }
  toolsInstalled = std::system(
                       "command -v srec_cat >/dev/null 2>&1 && "
                       "command -v xxd >/dev/null 2>&1") == 0;

  registerAll();
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf("\n256 KiB image, MB/s of image bytes (tools: srec_cat; xxd for Ascii hex)\n");
  std::printf("%-9s %-5s %10s %10s %16s\n", "format", "op", "ours", "tool", "ours faster by");
  for (const TextFormat& f : kFormats) {
    for (const char* op : {"Save", "Load"}) {
      const std::string name = std::string(op) + "/";
      const double ours = reporter.nanos(name + "ours/" + f.name + "/real_time");
      const double tool = reporter.nanos(name + "tool/" + f.name + "/manual_time");
      if (ours <= 0 || tool <= 0) {
        std::printf("%-9s %-5s %10.1f %10s %16s\n", f.name, op, megabytesPerSecond(ours), "n/a",
                    "n/a");
        continue;
      }
      std::printf("%-9s %-5s %10.1f %10.1f %15.1fx\n", f.name, op, megabytesPerSecond(ours),
                  megabytesPerSecond(tool), tool / ours);
    }
  }
  const double startUp = reporter.nanos("StartUp/tool/manual_time");
  if (startUp > 0) std::printf("srec_cat start-up alone (16-byte file): %.2f ms\n", startUp / 1e6);

  benchmark::Shutdown();
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return 0;
}
