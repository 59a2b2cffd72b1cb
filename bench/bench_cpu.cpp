// The processor time both programs use while the programmer works: Program of five 27C256 on
// the virtual programmer with realistic timing, about 14 s, in the window (offscreen, the
// Program button clicked) and in tandra-cli (a process of its own). Each is printed as user and
// system time and as a share of one core over the run.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "ProcessorTime.h"
#include "device/Catalogue.h"
#include "gui/MainForm.h"
#include "gui/PopupList.h"
#include "sim/VirtualProgrammer.h"

extern char** environ;

namespace {

const int k27C256Row = tandra::deviceListRow("27C256");

struct Use {
  double userS = 0;
  double systemS = 0;
  double wallS = 0;
};

void print(const char* what, const Use& use) {
  std::printf("%-28s user %6.2f s  system %6.2f s  wall %6.2f s  %5.1f%% of a core\n", what,
              use.userS, use.systemS, use.wallS, 100 * (use.userS + use.systemS) / use.wallS);
}

Use window() {
  tandra::VirtualProgrammer programmer;
  programmer.setRealisticTiming(true);
  TMainForm form(programmer);
  // The window keeps its choices between runs; a benchmark's are left out of the operator's.
  const QTemporaryDir settingsFolder;
  form.setSettings(std::make_unique<QSettings>(settingsFolder.filePath("bench_cpu.conf"),
                                               QSettings::IniFormat));
  form.show();
  QApplication::processEvents();
  while (!form.Device_Box->isVisible()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  form.workbench().selection.Device_BoxClick(k27C256Row);
  form.workbench().selection.Num_Of_DevicesClick(5);
  tandra::ImageBuffer& image = form.workbench().session.image();
  for (std::int32_t a = 0; a < 0x8000; ++a) image[a] = static_cast<std::uint8_t>(a);

  rusage before{};
  ::getrusage(RUSAGE_SELF, &before);
  const auto started = std::chrono::steady_clock::now();
  form.Program_Eprom->click();
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - started;
  rusage after{};
  ::getrusage(RUSAGE_SELF, &after);
  return {seconds(after.ru_utime) - seconds(before.ru_utime),
          seconds(after.ru_stime) - seconds(before.ru_stime), wall.count()};
}

Use commandLine(const std::string& image) {
  const std::string cli = TANDRA_CLI_PATH;
  std::vector<std::string> words = {cli, "program", "-d", "27C256", "-n", "5", image,
                                    "--virtual", "--no-verify", "--quiet"};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const auto started = std::chrono::steady_clock::now();
  pid_t child = 0;
  posix_spawn_file_actions_t quiet;
  ::posix_spawn_file_actions_init(&quiet);
  ::posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  const int spawned = ::posix_spawn(&child, cli.c_str(), &quiet, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&quiet);
  if (spawned != 0) return {};
  int status = 0;
  rusage use{};
  ::wait4(child, &status, 0, &use);
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - started;
  return {seconds(use.ru_utime), seconds(use.ru_stime), wall.count()};
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const std::filesystem::path image = std::filesystem::temp_directory_path() / "bench-cpu.bin";
  std::ofstream(image, std::ios::binary) << std::string(0x8000, '\x5A');
  print("window, Program 27C256 x 5", window());
  print("tandra-cli, the same", commandLine(image.string()));
  std::filesystem::remove(image);
  return 0;
}
