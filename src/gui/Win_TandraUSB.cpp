// The program entry: picks the programmer's driver, creates the window and runs it.
#include <QApplication>
#include <QRegularExpression>
#include <QStringList>
#include <cstdio>
#include <memory>

#include "gui/MainForm.h"
#include "link/HardwareBackend.h"
#include "sim/VirtualProgrammer.h"

namespace {

// Stands in for a driver when none could be loaded: no programmer is ever found.
class NoDriver final : public tandra::FtApi {
 public:
  tandra::FtStatus ListDevices(void* arg1, void*, std::uint32_t flags) override {
    if ((flags & tandra::ft::ListNumberOnly) != 0 && arg1 != nullptr) {
      *static_cast<std::uint32_t*>(arg1) = 0;
      return tandra::ft::Ok;
    }
    return tandra::ft::DeviceNotFound;
  }
  tandra::FtStatus OpenEx(void*, std::uint32_t, tandra::FtHandle*) override {
    return tandra::ft::DeviceNotFound;
  }
  tandra::FtStatus SetTimeouts(tandra::FtHandle, std::uint32_t, std::uint32_t) override {
    return tandra::ft::InvalidHandle;
  }
  tandra::FtStatus GetQueueStatus(tandra::FtHandle, std::uint32_t*) override {
    return tandra::ft::InvalidHandle;
  }
  tandra::FtStatus Write(tandra::FtHandle, const void*, std::uint32_t, std::uint32_t*) override {
    return tandra::ft::InvalidHandle;
  }
  tandra::FtStatus Read(tandra::FtHandle, void*, std::uint32_t, std::uint32_t*) override {
    return tandra::ft::InvalidHandle;
  }
  tandra::FtStatus Close(tandra::FtHandle) override { return tandra::ft::InvalidHandle; }
};

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  const QStringList arguments = QApplication::arguments();

  std::unique_ptr<tandra::FtApi> driver;
  const QStringList firmware = arguments.filter(QRegularExpression("^--virtual-firmware="));
  if (arguments.contains("--virtual") || !firmware.isEmpty()) {
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
    std::string chosen;
    driver = tandra::openHardwareBackend(&chosen);
    std::fprintf(stderr, "USB driver: %s\n", chosen.c_str());
    if (!driver) driver = std::make_unique<NoDriver>();
  }

  TMainForm MainForm(*driver);
  MainForm.show();
  return QApplication::exec();
}
