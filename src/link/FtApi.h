#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/UsbDevices.h"

namespace tandra {

// The D2XX vocabulary: a status word, an opaque device handle and the flag values of the
// published interface.
using FtStatus = std::uint32_t;
using FtHandle = void*;

namespace ft {
inline constexpr FtStatus Ok = 0;
inline constexpr FtStatus InvalidHandle = 1;
inline constexpr FtStatus DeviceNotFound = 2;
inline constexpr FtStatus DeviceNotOpened = 3;
inline constexpr FtStatus IoError = 4;
inline constexpr FtStatus InsufficientResources = 5;
inline constexpr FtStatus InvalidParameter = 6;
inline constexpr FtStatus InvalidBaudRate = 7;
inline constexpr FtStatus OtherError = 18;

inline constexpr std::uint32_t ListNumberOnly = 0x80000000;
inline constexpr std::uint32_t ListByIndex = 0x40000000;
inline constexpr std::uint32_t ListAll = 0x20000000;
inline constexpr std::uint32_t OpenBySerialNumber = 1;
inline constexpr std::uint32_t OpenByDescription = 2;

// D2XX writes at most this many characters (terminator included) for a description; a serial
// number is shorter. Buffers handed to ListDevices must hold at least this much.
inline constexpr std::uint32_t ListStringCapacity = 64;
}  // namespace ft

// What the operator is told when a programmer is seen but cannot be opened, with the fix.
namespace opennote {
inline constexpr const char* kNoPermission =
    "This user may not open the programmer: install the udev rule 60-tandra-usb.rules "
    "(see the README), then plug the programmer in again.";
inline constexpr const char* kInUse =
    "The programmer is in use by another program or driver: close it, or unplug the "
    "programmer and plug it in again.";
inline constexpr const char* kSerialDriverRefused =
    "The kernel's serial driver holds the programmer and this user may not take it away: "
    "install the udev rule 60-tandra-usb.rules (see the README), or unload the driver (sudo "
    "rmmod ftdi_sio).";
inline constexpr const char* kNoLatencyTimer =
    "The USB chip has no latency timer to set: replies will come more slowly.";
inline constexpr const char* kSerialDriver =
    "The kernel's serial driver holds the programmer, and the vendor's library cannot take it: "
    "start with --driver=libftdi, or unload the driver (sudo rmmod ftdi_sio).";
}  // namespace opennote

// One thing a driver knows of itself or of the device it opened ("libftdi1" "1.5", "vid:pid"
// "0403:6001", "latency timer" "2 ms"), for the trace and the first-contact check.
struct DriverFact {
  std::string key;
  std::string value;
};

// The seven D2XX calls that the program makes, as an interface. One implementation calls the
// vendor's library, one libftdi1, and one is the virtual programmer. Arguments keep the
// meaning of the published C calls: for ListDevices, `arg1` is the address of a count or a
// device index cast to a pointer, depending on `flags`.
class FtApi {
 public:
  virtual ~FtApi() = default;

  virtual FtStatus ListDevices(void* arg1, void* arg2, std::uint32_t flags) = 0;
  virtual FtStatus OpenEx(void* arg1, std::uint32_t flags, FtHandle* handle) = 0;
  virtual FtStatus SetTimeouts(FtHandle handle, std::uint32_t readTimeoutMs,
                               std::uint32_t writeTimeoutMs) = 0;
  virtual FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) = 0;
  virtual FtStatus Write(FtHandle handle, const void* buffer, std::uint32_t count,
                         std::uint32_t* written) = 0;
  virtual FtStatus Read(FtHandle handle, void* buffer, std::uint32_t count,
                        std::uint32_t* received) = 0;
  virtual FtStatus Close(FtHandle handle) = 0;

  // What the operator is told the programmer is reached through.
  virtual std::string driverName() const { return "USB driver"; }
  // What the driver met that the operator should hear of (a chip that refused a setting, a
  // device it may not open and why), each once, oldest first.
  virtual std::vector<std::string> takeNotes() { return {}; }
  // How long the open chip holds back a part-filled packet: the latency timer as the driver
  // set it, or the chip's own 16 ms where it could not.
  virtual std::uint32_t latencyTimerMs() const { return kChipLatencyTimerMs; }
  // What the driver knows of itself (its library's version) and of the device it last opened or
  // failed to open (ids, chip, packet size, speed, latency timer, purge and reset results, why
  // an open failed), oldest first.
  virtual std::vector<DriverFact> facts() const { return {}; }
  // The USB chips attached, as the system lists them, whether this user may open each, and the
  // kernel driver that holds it.
  virtual std::vector<UsbDevice> usbDevices() const { return listUsbDevices(); }
  // What the operator is told when usbDevices() lists none, and what to do about it.
  virtual UnlistedUsb whyNoUsbDevice() const { return noUsbDeviceListed(); }

  static constexpr std::uint32_t kChipLatencyTimerMs = 16;
  // What the backends ask of the chip: a short reply is not held back for long.
  static constexpr std::uint32_t kShortLatencyTimerMs = 2;
};

}  // namespace tandra
