// The program entry: picks the programmer's driver, creates the window and runs it.
#include <QApplication>
#include <QRegularExpression>
#include <QStringList>
#include <cstdio>
#include <memory>
#include <optional>

#include "gui/MainForm.h"
#include "link/HardwareBackend.h"
#include "sim/VirtualProgrammer.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  const QStringList arguments = QApplication::arguments();

  std::unique_ptr<tandra::FtApi> driver;
  const QStringList firmware = arguments.filter(QRegularExpression("^--virtual-firmware="));
  const QStringList driverWords = arguments.filter(QRegularExpression("^--driver="));
  std::optional<tandra::DriverChoice> choice = tandra::DriverChoice::Automatic;
  if (!driverWords.isEmpty()) {
    choice = tandra::parseDriverChoice(driverWords.last().section('=', 1).toStdString());
    if (!choice) {
      std::fprintf(stderr, "--driver wants d2xx, libftdi or virtual\n");
      return 2;
    }
  }
  if (arguments.contains("--virtual") || !firmware.isEmpty() ||
      choice == tandra::DriverChoice::Virtual) {
    // Five blank chips, answering in the time real ones take.
    auto programmer = std::make_unique<tandra::VirtualProgrammer>();
    programmer->setRealisticTiming(true);
    if (!firmware.isEmpty()) {
      // --virtual-firmware=MAJOR.MINOR: a programmer with older (or newer) firmware.
      const QStringList version = firmware.last().section('=', 1).split('.');
      bool majorOk = false;
      bool minorOk = false;
      const int major = version.value(0).toInt(&majorOk);
      const int minor = version.value(1).toInt(&minorOk);
      if (version.size() != 2 || !majorOk || !minorOk || major < 0 || major > 255 || minor < 0 ||
          minor > 255) {
        std::fprintf(stderr, "--virtual-firmware wants MAJOR.MINOR, each 0 to 255, e.g. 1.10\n");
        return 2;
      }
      programmer->setFirmwareVersion(major, minor);
    }
    driver = std::move(programmer);
  } else {
    driver = tandra::chooseDriver(*choice, tandra::hardwareDrivers());
  }

  TMainForm MainForm(*driver);
  MainForm.show();
  return QApplication::exec();
}
