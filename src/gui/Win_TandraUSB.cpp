// The program entry: reads the command line, picks the programmer's driver, creates the window
// and runs it.
#include <QApplication>
#include <QCommandLineParser>
#include <QLockFile>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QStringList>
#include <QTimer>
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
#include "gui/MainForm.h"
#include "gui/SingleInstance.h"
#include "link/HardwareBackend.h"
#include "link/Trace.h"
#include "link/TracingApi.h"
#include "sim/VirtualProgrammer.h"

namespace {

// What the command line asks for; nothing when the program is to end at once with `exitCode`.
struct Start {
  tandra::DriverChoice driver = tandra::DriverChoice::Automatic;
  std::optional<std::pair<int, int>> virtualFirmware;
  bool fullWaits = false;
  std::string tracePath;
  bool production = false;
};

std::optional<Start> readCommandLine(const QStringList& arguments, int* exitCode) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "The window of the Tandra USB gang EPROM programmer. Without options it looks for the "
      "programmer on the USB bus.");
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  const QCommandLineOption virtualProgrammer("virtual",
                                             "Use the virtual programmer, with five blank chips.");
  const QCommandLineOption virtualFirmware(
      "virtual-firmware",
      "Use a virtual programmer whose firmware has this version (e.g. 1.10, which is offered "
      "an update).",
      "MAJOR.MINOR");
  const QCommandLineOption driver("driver", "The USB driver: d2xx, libftdi or virtual.", "DRIVER");
  const QCommandLineOption trace(
      "trace",
      "Write every transfer to and from the programmer, the start-up facts and the status log "
      "into FILE (its form is in the README).",
      "FILE");
  const QCommandLineOption fullWaits(
      "full-waits",
      "Read every reply of the programmer to its full length, waiting out the read time-out, "
      "for a programmer whose firmware pauses in the middle of a reply.");
  const QCommandLineOption production(
      "production",
      "Open the production panel as well: sets of chips, each socket its image and serial "
      "number, a log and the run's statistics.");
  parser.addOptions({virtualProgrammer, virtualFirmware, driver, fullWaits, trace, production});

  *exitCode = 0;
  if (!parser.parse(arguments)) {
    std::fprintf(stderr, "%s\n", qPrintable(parser.errorText()));
    *exitCode = 2;
    return std::nullopt;
  }
  // --help-all, which the parser lists with --help, is answered the same: the window takes no
  // options of the toolkit's own.
  if (parser.isSet(help) || parser.isSet("help-all")) {
    // Read without an application object, the parser cannot name the program itself.
    QString text = parser.helpText();
    text.replace("<executable_name>", QCoreApplication::applicationName());
    std::fputs(qPrintable(text), stdout);
    return std::nullopt;
  }
  if (parser.isSet(version)) {
    std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()), tandra::kVersion);
    return std::nullopt;
  }

  Start start;
  if (parser.isSet(driver)) {
    const std::optional<tandra::DriverChoice> choice =
        tandra::parseDriverChoice(parser.value(driver).toStdString());
    if (!choice) {
      std::fprintf(stderr, "--driver wants d2xx, libftdi or virtual\n");
      *exitCode = 2;
      return std::nullopt;
    }
    start.driver = *choice;
  }
  if (parser.isSet(virtualProgrammer)) start.driver = tandra::DriverChoice::Virtual;
  start.fullWaits = parser.isSet(fullWaits);
  start.production = parser.isSet(production);
  if (parser.isSet(trace)) start.tracePath = parser.value(trace).toStdString();
  if (parser.isSet(virtualFirmware)) {
    start.virtualFirmware = tandra::VirtualProgrammer::parseFirmwareVersion(
        parser.value(virtualFirmware).toStdString());
    if (!start.virtualFirmware) {
      std::fprintf(stderr, "--virtual-firmware wants MAJOR.MINOR, each 0 to 255, e.g. 1.10\n");
      *exitCode = 2;
      return std::nullopt;
    }
    start.driver = tandra::DriverChoice::Virtual;
  }
  return start;
}

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
  const std::optional<Start> start = readCommandLine(arguments, &exitCode);
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
  MainForm.workbench().link.fullWaits = start->fullWaits;
  MainForm.workbench().setTrace(trace.get());
  MainForm.setVirtualProgrammer(virtualProgrammer);
  closeOnStopSignals(MainForm);
  MainForm.show();
  if (start->production) MainForm.openProductionPanel();
  int code = QApplication::exec();
  // Ended by a signal: as a shell reports a process it stopped, 128 and the signal's number.
  if (stopSignal.load() != 0) code = 128 + stopSignal.load();
  if (trace) trace->fact("exit", std::to_string(code));
  return code;
}
