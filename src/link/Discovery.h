#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace tandra {

class D2XXUnit;
class Host;
class Link;
class Trace;

// Finding the programmer: exactly one USB device must be attached; it is opened and asked for
// its firmware version. Runs at start-up and whenever the operator clicks the status line.
class Discovery {
 public:
  static constexpr int kLeastAcceptedVersion = 0x114;  // 1.20
  static constexpr const char* kNotFoundText = "The Vasko Programmer Could Not Be Found....";
  static constexpr const char* kFirmwareQuestion =
      "This Software Requires Firmware Version - 1.20\r\nDo You Want to Flash Update the "
      "Programmer ?";
  static constexpr const char* kFoundPrefix = "Usb Programmer Found - FirmWare Version ";
  static constexpr const char* kRetryHint = "Click to look for the programmer again";

  Discovery(D2XXUnit& usb, Link& link, Host& host) : usb_(usb), link_(link), host_(host) {}

  // The programmer to open when several are attached (empty: exactly one must be).
  std::string wantedSerial;
  // Where the driver and the firmware found are recorded, when a trace is kept.
  Trace* trace = nullptr;

  // Set by the owner: the Vpp step (sends the chosen voltage) and the firmware update.
  std::function<void()> runVppStep;
  std::function<void()> runFirmwareUpdate;

  void run();
  // The programmer looked for again after it restarted: the status line says what was found,
  // but a search that finds nothing opens no box and keeps the status log as it is. True when
  // it answered.
  bool searchAgain();

  int firmwareVersionNumber() const { return versionNumber_; }
  const std::string& firmwareVersionText() const { return versionText_; }

  // "1.05" for major 1, minor 5: the minor number gets a leading zero when it has one digit.
  static std::string versionText(int major, int minor);

  // How the last search ended, for a first-contact check to say what to do.
  enum class Outcome {
    NotRun,
    NoDevice,        // no USB device of the kind on the bus
    SeveralDevices,  // more than one, and none named
    OpenRefused,     // found, but the driver would not open it
    NoAnswer,        // opened, but no whole reply to the identify command
    BadStatus,       // a reply, with a status that is not 0x00
    Found,
  };
  Outcome outcome() const { return outcome_; }
  int devicesCounted() const { return devicesCounted_; }
  std::uint8_t identifyStatus() const { return identifyStatus_; }

 private:
  // The search itself; `again` for a programmer looked for after its restart.
  void search(bool again);
  void notFound();
  // What the driver met (a refused setting, a device it may not open) goes into the log.
  void logDriverNotes();

  D2XXUnit& usb_;
  Link& link_;
  Host& host_;
  int versionNumber_ = 0;
  std::string versionText_;
  Outcome outcome_ = Outcome::NotRun;
  int devicesCounted_ = 0;
  std::uint8_t identifyStatus_ = 0;
};

}  // namespace tandra
