// The program entry: reads the command line, picks the programmer's driver, creates the window
// and runs it.
#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QLockFile>
#include <QMessageBox>
#include <QStandardPaths>
#include <QStringList>
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "common/FileError.h"
#include "common/Stops.h"
#include "common/Version.h"
#include "device/Catalogue.h"
#include "gui/CommandLine.h"
#include "gui/MainForm.h"
#include "gui/SingleInstance.h"
#include "link/HardwareBackend.h"
#include "link/Trace.h"
#include "link/TracingApi.h"
#include "sim/VirtualProgrammer.h"

namespace {

// SIGINT, SIGTERM and SIGHUP (on Windows Ctrl-C, Ctrl-Break and a closing console) close the
// window as its close button does: the operation under way stops where Quit would stop it, the
// programmer is idled and let go, the trace is finished.
std::atomic<int> stopSignal{0};

void closeOnStopSignals(QWidget& window) {
#if defined(_WIN32)
  // Nothing a console handler can write to wakes Qt's loop on Windows: the window looks.
  tandra::catchStops(stopSignal);
  auto* timer = new QTimer(&window);
  QObject::connect(timer, &QTimer::timeout, &window, [&window] {
    if (stopSignal.load() != 0) window.close();
  });
  timer->start(200);
#else
  // The signal's handler wakes the loop through a pipe.
  static int wake[2] = {-1, -1};
  if (::pipe(wake) != 0) return;
  auto* notifier = new QSocketNotifier(wake[0], QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
    char byte = 0;
    [[maybe_unused]] const ssize_t got = ::read(wake[0], &byte, 1);
    window.close();
  });
  tandra::catchStops(stopSignal, wake[1]);
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
  tandra::letWritesPastTheSizeLimitFail();  // a save past `ulimit -f` fails, never kills
  QCoreApplication::setApplicationName("tandra-usb");
  QCoreApplication::setApplicationVersion(tandra::kVersion);
  QCoreApplication::setOrganizationName("Tandra USB");

  // Read before the window system is reached, so that --help and --version work without one.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  int exitCode = 0;
  const std::optional<WindowStart> start = readCommandLine(arguments, &exitCode);
  if (!start) return exitCode;

  QApplication application(argc, argv);
  TMainForm::setUpApplication();

  // One window drives the programmer; virtual programmers are each their own.
  std::unique_ptr<QLockFile> programmerLock;
  if (start->driver != tandra::DriverChoice::Virtual) {
    programmerLock =
        claimTheProgrammer(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation));
    if (!programmerLock) {
      QMessageBox::warning(nullptr, QCoreApplication::applicationName(),
                           "Another Tandra USB window is already running. The programmer can be "
                           "used by one window at a time: use that one, or close it first.");
      return 1;
    }
  }

  std::unique_ptr<tandra::FtApi> driver;
  tandra::VirtualProgrammer* virtualProgrammer = nullptr;
  std::vector<std::string> probes;
  if (start->driver == tandra::DriverChoice::Virtual) {
    auto standIn = tandra::VirtualProgrammer::standIn(start->virtualFirmware);
    virtualProgrammer = standIn.get();
    driver = std::move(standIn);
    if (const std::string problem = setUpVirtualProgrammer(*start, *virtualProgrammer);
        !problem.empty()) {
      std::fprintf(stderr, "%s\n", problem.c_str());
      return 2;
    }
  } else {
    driver = tandra::chooseDriver(start->driver, tandra::hardwareDrivers(), &probes);
  }

  // A trace sees what the driver carries: it stands between the window and the driver.
  std::unique_ptr<tandra::Trace> trace;
  std::unique_ptr<tandra::TracingApi> tracer;
  if (!start->tracePath.empty()) {
    try {
      trace = tandra::Trace::create(start->tracePath);
    } catch (const tandra::FileError& error) {
      std::fprintf(stderr, "--trace: %s (%s)\n", tandra::boxText(error.what()).c_str(),
                   start->tracePath.c_str());
      return 2;
    }
    trace->startFacts(std::string("tandra-usb ") + tandra::kVersion);
    for (int i = 1; i < argc; ++i) trace->fact("argument", argv[i]);
    for (const std::string& probe : probes) trace->fact("driver-probe", probe);
    tracer = std::make_unique<tandra::TracingApi>(*driver, *trace);
  }

  TMainForm MainForm(tracer ? static_cast<tandra::FtApi&>(*tracer) : *driver);
  MainForm.workbench().session.setFullWaits(start->fullWaits);
  MainForm.workbench().setTrace(trace.get());
  MainForm.setVirtualProgrammer(virtualProgrammer);
  closeOnStopSignals(MainForm);
  MainForm.show();
  if (start->production) MainForm.openProductionPanel();
  int code = QApplication::exec();
  if (virtualProgrammer != nullptr) {
    // A chip that took whatever type was chosen is kept as that type.
    const tandra::Chip* type =
        tandra::catalogueEntry(MainForm.workbench().session.settings().deviceListRow);
    const std::string notKept = keepVirtualState(
        *start, *virtualProgrammer, type != nullptr ? std::string(type->name) : std::string());
    if (!notKept.empty()) std::fprintf(stderr, "%s\n", notKept.c_str());
  }
  // Ended by a signal: as a shell reports a process it stopped, 128 and the signal's number.
  if (stopSignal.load() != 0) code = 128 + stopSignal.load();
  if (trace) trace->fact("exit", std::to_string(code));
  return code;
}
