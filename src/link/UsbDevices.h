#pragma once

#include <string>
#include <vector>

namespace tandra {

// A USB device as the system lists it, for telling the operator what is attached and whether
// this user may open it, before any driver is asked.
struct UsbDevice {
  std::string vendorId;   // "0403"
  std::string productId;  // "6001"
  std::string bcdDevice;  // "0600": the chip's release, which tells the FTDI chip's kind
  std::string serial;
  std::string product;
  std::string speed;        // Mb/s as the system gives it: "12" full speed, "480" high speed
  std::string node;         // the device node a driver opens, "/dev/bus/usb/001/004"
  bool mayOpen = false;     // this user may read and write the node
  std::string boundDriver;  // the kernel driver on its first interface ("ftdi_sio"), or none
  int maxPacketSize = 0;    // of its first bulk endpoint: 64 at full speed, 512 at high speed

  std::string vidPid() const { return vendorId + ":" + productId; }
  // "full speed (12 Mb/s)"
  std::string speedText() const;
};

// The USB chip's vendor and the product ids the udev rule names.
inline constexpr const char* kFtdiVendorId = "0403";

// When no FTDI device is listed: what was found, and what the operator is to do.
struct UnlistedUsb {
  std::string found;  // "no FTDI USB device is attached"
  std::string toDo;   // "plug the programmer in (...)"
};
// Where this system shows the chip once it is plugged in.
UnlistedUsb noUsbDeviceListed();

// The FTDI devices attached, from the system's device tree (on Linux /sys/bus/usb/devices and
// /dev/bus/usb; tests give a tree of their own). Empty where the system has none to read.
std::vector<UsbDevice> listUsbDevices(const std::string& sysRoot = "/sys/bus/usb/devices",
                                      const std::string& devRoot = "/dev/bus/usb");

}  // namespace tandra
