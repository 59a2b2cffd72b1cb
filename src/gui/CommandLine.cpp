#include "gui/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "common/FileError.h"
#include "common/Version.h"
#include "files/FormatGuess.h"
#include "image/Checksum.h"
#include "image/ImageBuffer.h"
#include "sim/VirtualProgrammer.h"
#include "sim/VirtualState.h"

namespace {

struct Options {
  QCommandLineOption virtualProgrammer{"virtual",
                                       "Use the virtual programmer, with five blank chips."};
  QCommandLineOption virtualFirmware{
      "virtual-firmware",
      "Use a virtual programmer whose firmware has this version (e.g. 1.10, which is offered "
      "an update).",
      "MAJOR.MINOR"};
  QCommandLineOption virtualChips{
      "virtual-chips",
      "Put a chip holding FILE (in the file's own format) in the virtual programmer's next "
      "socket, once per socket: a used chip, to see how a failing one is told.",
      "FILE"};
  QCommandLineOption virtualState{
      "virtual-state",
      "Keep the virtual programmer's chips in DIR (socket1-27C256.bin, ...) from one run to "
      "the next.",
      "DIR"};
  QCommandLineOption driver{"driver", "The USB driver: d2xx, libftdi or virtual.", "DRIVER"};
  QCommandLineOption trace{
      "trace",
      "Write every transfer to and from the programmer, the start-up facts and the status log "
      "into FILE (its form is in the README).",
      "FILE"};
  QCommandLineOption fullWaits{
      "full-waits",
      "Read every reply of the programmer to its full length, waiting out the read time-out, "
      "as the protocol was first written (slower; no firmware needs it)."};
  QCommandLineOption production{
      "production",
      "Open the production panel as well (once the device list is answered): sets of chips, "
      "each socket its image and serial number, a log and the run's statistics."};
};

bool fail(const char* text, int* exitCode) {
  std::fprintf(stderr, "%s\n", text);
  *exitCode = 2;
  return false;
}

// The options that say which programmer: false (said) when they contradict each other.
bool readDriver(const QCommandLineParser& parser, const Options& o, WindowStart& start,
                int* exitCode) {
  if (parser.isSet(o.driver)) {
    const std::optional<tandra::DriverChoice> choice =
        tandra::parseDriverChoice(parser.value(o.driver).toStdString());
    if (!choice) return fail("--driver wants d2xx, libftdi or virtual", exitCode);
    start.driver = *choice;
  }
  if (parser.isSet(o.virtualFirmware)) {
    start.virtualFirmware = tandra::VirtualProgrammer::parseFirmwareVersion(
        parser.value(o.virtualFirmware).toStdString());
    if (!start.virtualFirmware) {
      return fail("--virtual-firmware wants MAJOR.MINOR, each 0 to 255, e.g. 1.10", exitCode);
    }
  }
  for (const QString& chip : parser.values(o.virtualChips)) {
    start.virtualChips.push_back(chip.toStdString());
  }
  if (start.virtualChips.size() > tandra::kSockets) {
    return fail("--virtual-chips: the programmer has five sockets", exitCode);
  }
  if (parser.isSet(o.virtualState)) start.virtualState = parser.value(o.virtualState).toStdString();
  const bool wantsVirtual = parser.isSet(o.virtualProgrammer) || start.virtualFirmware ||
                            !start.virtualChips.empty() || !start.virtualState.empty();
  if (wantsVirtual && parser.isSet(o.driver) && start.driver != tandra::DriverChoice::Virtual) {
    return fail("--virtual and --driver name two different programmers: give one of them",
                exitCode);
  }
  if (wantsVirtual) start.driver = tandra::DriverChoice::Virtual;
  return true;
}

}  // namespace

std::optional<WindowStart> readCommandLine(const QStringList& arguments, int* exitCode) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "The window of the Tandra USB gang EPROM programmer. Without options it looks for the "
      "programmer on the USB bus.");
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  const Options o;
  parser.addOptions({o.virtualProgrammer, o.virtualFirmware, o.virtualChips, o.virtualState,
                     o.driver, o.fullWaits, o.trace, o.production});

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

  WindowStart start;
  if (!readDriver(parser, o, start, exitCode)) return std::nullopt;
  start.fullWaits = parser.isSet(o.fullWaits);
  start.production = parser.isSet(o.production);
  if (parser.isSet(o.trace)) start.tracePath = parser.value(o.trace).toStdString();
  return start;
}

std::string setUpVirtualProgrammer(const WindowStart& start,
                                   tandra::VirtualProgrammer& programmer) {
  int socket = 0;
  for (const std::string& path : start.virtualChips) {
    ++socket;
    // Read as for the largest chip: the type is chosen later, in the window.
    tandra::ImageBuffer contents;
    contents.deviceEndAddress = tandra::ImageBuffer::kSize - 1;
    tandra::fillBuffer(contents, 0xFF);
    try {
      tandra::loadImageFile(contents, path, std::nullopt);
    } catch (const tandra::FileError& error) {
      return "--virtual-chips: " + tandra::boxText(error.what()) + " (" + path + ")";
    }
    tandra::putChip(programmer, socket, "",
                    std::span<const std::uint8_t>(contents.data(), tandra::ImageBuffer::kSize));
  }
  if (start.virtualState.empty()) return {};
  try {
    tandra::loadVirtualState(programmer, start.virtualState);
  } catch (const tandra::VirtualStateError& error) {
    return error.what();
  }
  return {};
}

std::string keepVirtualState(const WindowStart& start, tandra::VirtualProgrammer& programmer,
                             const std::string& typeName) {
  if (start.virtualState.empty()) return {};
  std::string notKept;
  for (const std::string& line :
       tandra::saveVirtualState(programmer, start.virtualState, typeName)) {
    notKept += (notKept.empty() ? "" : "\n") + line;
  }
  return notKept;
}
