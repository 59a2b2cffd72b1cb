#include "link/UsbDevices.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace tandra {

namespace {

namespace fs = std::filesystem;

std::string attribute(const fs::path& device, const char* name) {
  std::ifstream in(device / name);
  std::string value;
  std::getline(in, value);
  while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.pop_back();
  return value;
}

int number(const std::string& text) {
  try {
    return std::stoi(text);
  } catch (const std::exception&) {
    return -1;
  }
}

// The kernel driver on interface 0, if any: the link "driver" under "<device>:1.0".
std::string interfaceDriver(const fs::path& device) {
  std::error_code ignored;
  const fs::path link = device.parent_path() / (device.filename().string() + ":1.0") / "driver";
  const fs::path target = fs::read_symlink(link, ignored);
  return ignored ? std::string() : target.filename().string();
}

// wMaxPacketSize of the interface's first endpoint, from its "ep_XX" folder.
int firstEndpointPacketSize(const fs::path& device) {
  std::error_code ignored;
  const fs::path interface = device.parent_path() / (device.filename().string() + ":1.0");
  for (const auto& entry : fs::directory_iterator(interface, ignored)) {
    if (!entry.path().filename().string().starts_with("ep_")) continue;
    const std::string size = attribute(entry.path(), "wMaxPacketSize");
    if (!size.empty()) return static_cast<int>(std::strtol(size.c_str(), nullptr, 16));
  }
  return 0;
}

bool mayReadAndWrite(const std::string& node) {
#if defined(_WIN32)
  (void)node;
  return true;
#else
  return ::access(node.c_str(), R_OK | W_OK) == 0;
#endif
}

}  // namespace

UnlistedUsb noUsbDeviceListed() {
#if defined(_WIN32)
  return {"no FTDI USB device is attached",
          "plug the programmer in (the Device Manager shows its chip as a USB Serial Converter "
          "under Universal Serial Bus controllers)"};
#else
  return {"no FTDI USB device is attached",
          "plug the programmer in (lsusb lists its chip as 0403:6001 or a near number)"};
#endif
}

std::string UsbDevice::speedText() const {
  if (speed == "1.5") return "low speed (1.5 Mb/s)";
  if (speed == "12") return "full speed (12 Mb/s)";
  if (speed == "480") return "high speed (480 Mb/s)";
  return speed.empty() ? "speed unknown" : speed + " Mb/s";
}

std::vector<UsbDevice> listUsbDevices(const std::string& sysRoot, const std::string& devRoot) {
  std::vector<UsbDevice> devices;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(sysRoot, ignored)) {
    const fs::path device = entry.path();
    if (device.filename().string().find(':') != std::string::npos) continue;  // an interface
    if (attribute(device, "idVendor") != kFtdiVendorId) continue;
    UsbDevice found;
    found.vendorId = kFtdiVendorId;
    found.productId = attribute(device, "idProduct");
    found.bcdDevice = attribute(device, "bcdDevice");
    found.serial = attribute(device, "serial");
    found.product = attribute(device, "product");
    found.speed = attribute(device, "speed");
    char node[64];
    std::snprintf(node, sizeof node, "/%03d/%03d", number(attribute(device, "busnum")),
                  number(attribute(device, "devnum")));
    found.node = devRoot + node;
    found.mayOpen = mayReadAndWrite(found.node);
    found.boundDriver = interfaceDriver(device);
    found.maxPacketSize = firstEndpointPacketSize(device);
    devices.push_back(found);
  }
  std::sort(devices.begin(), devices.end(),
            [](const UsbDevice& a, const UsbDevice& b) { return a.node < b.node; });
  return devices;
}

}  // namespace tandra
