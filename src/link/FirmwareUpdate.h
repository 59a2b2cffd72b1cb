#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tandra {

class D2XXUnit;
class Host;
class Link;

// Replaces the programmer's firmware from an update file: a 16-byte header, then 74-byte records
// sent one per packet; the programmer's check value of what it received is compared with the
// one the file carries, and the programmer is told to restart.
class FirmwareUpdate {
 public:
  static constexpr std::size_t kBufferSize = 9215;  // the most of a file that is used
  static constexpr std::size_t kHeaderSize = 16;
  static constexpr std::size_t kRecordSize = 74;
  static constexpr const char* kUpdatingText = "Updating Programmer Flash Code....";
  static constexpr const char* kInvalidFileText =
      "Invalid File Type...\r\nCan Not Update Units With This File......";
  static constexpr const char* kGoodText = "Good Update...";
  static constexpr const char* kBadText = "Warning: Bad Update...";
  // The status once records were sent: the programmer restarts, and is looked for again.
  static constexpr const char* kUpdatedStatus =
      "Programmer updated and restarting: click here to look for it again";
  static constexpr const char* kFailedStatus =
      "The update did not take: click here to look for the programmer again";
  static constexpr const char* kProgressName = "Firmware Update";
  // How long the restart command is given to leave the USB chip for the firmware.
  static constexpr int kRestartSendMs = 50;
  // How long a restarted programmer is looked for before it counts as not answering, when the
  // first look is, and how often it is looked for after that.
  static constexpr int kRestartSearchMs = 10000;
  static constexpr int kRestartFirstLookMs = 1000;
  static constexpr int kRestartLookEveryMs = 500;
  static constexpr const char* kLookingAgainStatus =
      "Programmer updated and restarting: looking for it....";
  static constexpr const char* kNotBackStatus =
      "No programmer 10 s after the restart: click here to look again";

  FirmwareUpdate(D2XXUnit& usb, Link& link, Host& host) : usb_(usb), link_(link), host_(host) {}

  // Runs the whole update; nothing else can be started meanwhile. A file that cannot be read
  // throws FileError before anything is sent.
  void run();
  // The last run told the programmer to restart: it has to be found anew.
  bool restartSent() const { return restartSent_; }

  // The number of whole records in a file of `length` bytes.
  static std::size_t recordCount(std::size_t length);
  // True when bytes 2 to 13 say "Update File" and 0x06 (bytes 0 and 1 are not looked at).
  static bool headerIsValid(const std::vector<std::uint8_t>& file);

 private:
  std::vector<std::uint8_t> readFile(const std::string& path) const;
  void sendRecords(const std::vector<std::uint8_t>& file);
  bool checkFlash(const std::vector<std::uint8_t>& file);
  void restart();

  D2XXUnit& usb_;
  Link& link_;
  Host& host_;
  bool restartSent_ = false;
};

}  // namespace tandra
