#include "link/Ftd2xxLibrary.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <utility>

#include "link/UsbDevices.h"

#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace tandra {

namespace {

// The vendor's integer types. Windows is LLP64, so DWORD and ULONG are both 32 bits there. On
// Linux and macOS the vendor header defines DWORD as unsigned int but ULONG (and with it the
// FT_STATUS return value and the time-outs of FT_SetTimeouts) as unsigned long, which is 64 bits
// on LP64: declaring them all as 32-bit values would read half of each time-out argument.
#if defined(_WIN32)
using Dword = unsigned long;
using Ulong = unsigned long;
// WINAPI: only 32-bit x86 has a separate calling convention; elsewhere the compiler ignores it.
#define TANDRA_D2XX_CALL __stdcall
#else
using Dword = unsigned int;
using Ulong = unsigned long;
#define TANDRA_D2XX_CALL
#endif

static_assert(sizeof(Dword) == sizeof(std::uint32_t), "D2XX DWORD is 32 bits everywhere");

using ListDevicesFn = Ulong(TANDRA_D2XX_CALL*)(void*, void*, Dword);
using OpenExFn = Ulong(TANDRA_D2XX_CALL*)(void*, Dword, void**);
using SetTimeoutsFn = Ulong(TANDRA_D2XX_CALL*)(void*, Ulong, Ulong);
using GetQueueStatusFn = Ulong(TANDRA_D2XX_CALL*)(void*, Dword*);
using WriteFn = Ulong(TANDRA_D2XX_CALL*)(void*, void*, Dword, Dword*);
using ReadFn = Ulong(TANDRA_D2XX_CALL*)(void*, void*, Dword, Dword*);
using CloseFn = Ulong(TANDRA_D2XX_CALL*)(void*);
using SetLatencyTimerFn = Ulong(TANDRA_D2XX_CALL*)(void*, unsigned char);
using PurgeFn = Ulong(TANDRA_D2XX_CALL*)(void*, Ulong);
using LibraryVersionFn = Ulong(TANDRA_D2XX_CALL*)(Dword*);
using DeviceInfoFn = Ulong(TANDRA_D2XX_CALL*)(void*, Ulong*, Dword*, char*, char*, void*);
using CreateDeviceInfoListFn = Ulong(TANDRA_D2XX_CALL*)(Dword*);
using GetDeviceInfoDetailFn = Ulong(TANDRA_D2XX_CALL*)(Dword, Dword*, Dword*, Dword*, Dword*, void*,
                                                       void*, void**);

// FT_DEVICE values of the published interface, with the bcdDevice each kind of chip reports (the
// driver tells the kind by it); empty where no one release stands for the kind.
struct ChipKind {
  const char* name;
  const char* bcdDevice;
};
constexpr ChipKind kChipKinds[] = {
    {"FT232BM", "0400"}, {"FT232AM", "0200"}, {"FT100AX", ""},     {"unknown", ""},
    {"FT2232C", "0500"}, {"FT232R", "0600"},  {"FT2232H", "0700"}, {"FT4232H", "0800"},
    {"FT232H", "0900"},  {"FT-X", "1000"},
};

ChipKind chipKind(Ulong type) {
  return type < std::size(kChipKinds) ? kChipKinds[type] : ChipKind{"unknown", ""};
}

const char* chipName(Ulong type) {
  return chipKind(type).name;
}

// FT_GetDeviceInfoDetail's flags.
constexpr Dword kFlagOpened = 1;  // open already, in this process or another
constexpr Dword kFlagHighSpeed = 2;

// No more than this many devices are taken from a library's count.
constexpr Dword kMostListed = 64;

// A text the library wrote, cut at its end or at the buffer's, with anything that is not
// printable ASCII shown as '?'.
std::string libraryText(const char* text, std::size_t capacity) {
  std::string shown;
  for (std::size_t i = 0; i < capacity && text[i] != '\0'; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    shown += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  }
  return shown;
}

std::string hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
  return text;
}

// FT_Purge's mask: the receive and the transmit buffers.
constexpr Ulong kPurgeBoth = 1 | 2;

void* openModule(const std::string& path) {
#if defined(_WIN32)
  return reinterpret_cast<void*>(LoadLibraryA(path.c_str()));
#else
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
}

void closeModule(void* module) {
#if defined(_WIN32)
  FreeLibrary(reinterpret_cast<HMODULE>(module));
#else
  dlclose(module);
#endif
}

// Looks `name` up and stores it in `fn`; false when the library does not export it. The address
// is copied rather than cast because ISO C++ has no conversion from an object pointer (dlsym) or
// from a differently typed function pointer (GetProcAddress) to the function pointer we need.
template <typename Fn>
bool resolve(void* module, const char* name, Fn& fn) {
#if defined(_WIN32)
  const FARPROC address = GetProcAddress(reinterpret_cast<HMODULE>(module), name);
#else
  void* const address = dlsym(module, name);
#endif
  static_assert(sizeof(address) == sizeof(fn));
  if (address == nullptr) return false;
  std::memcpy(&fn, &address, sizeof fn);
  return true;
}

FtStatus status(Ulong value) {
  return static_cast<FtStatus>(value);
}

}  // namespace

struct Ftd2xxLibrary::Functions {
  ListDevicesFn listDevices = nullptr;
  OpenExFn openEx = nullptr;
  SetTimeoutsFn setTimeouts = nullptr;
  GetQueueStatusFn getQueueStatus = nullptr;
  WriteFn write = nullptr;
  ReadFn read = nullptr;
  CloseFn close = nullptr;
  SetLatencyTimerFn setLatencyTimer = nullptr;  // Optional: older libraries lack it.
  PurgeFn purge = nullptr;                      // Optional, as the latency timer.
  LibraryVersionFn libraryVersion = nullptr;    // Optional: for the trace.
  DeviceInfoFn deviceInfo = nullptr;            // Optional: for the trace.
  // Optional: the devices attached, where the system has no list of its own.
  CreateDeviceInfoListFn createDeviceInfoList = nullptr;
  GetDeviceInfoDetailFn getDeviceInfoDetail = nullptr;

  // One entry of the library's device list.
  struct Listed {
    Dword index = 0;  // its place in the library's list
    Dword flags = 0;
    Dword type = 0;
    Dword id = 0;  // vendor id in the high 16 bits, product id in the low
    Dword location = 0;
    char serial[64] = {};  // the library writes up to 16 bytes, 64 for a description
    char description[64] = {};
    void* handle = nullptr;  // the device's handle where it is open in this process
  };
  // The devices the library lists now; none where it cannot list them.
  std::vector<Listed> listed() const {
    std::vector<Listed> devices;
    Dword count = 0;
    if (createDeviceInfoList == nullptr || getDeviceInfoDetail == nullptr ||
        createDeviceInfoList(&count) != ft::Ok) {
      return devices;
    }
    for (Dword index = 0; index < std::min(count, kMostListed); ++index) {
      Listed device;
      device.index = index;
      if (getDeviceInfoDetail(index, &device.flags, &device.type, &device.id, &device.location,
                              device.serial, device.description, &device.handle) == ft::Ok) {
        devices.push_back(device);
      }
    }
    return devices;
  }
};

const char* Ftd2xxLibrary::defaultLibraryName() {
#if defined(_WIN32)
  return "ftd2xx.dll";
#elif defined(__APPLE__)
  return "libftd2xx.dylib";
#else
  return "libftd2xx.so";
#endif
}

std::unique_ptr<Ftd2xxLibrary> Ftd2xxLibrary::load(const std::string& path) {
  void* const module = openModule(path.empty() ? defaultLibraryName() : path);
  if (module == nullptr) return nullptr;

  auto functions = std::make_unique<Functions>();
  const bool complete = resolve(module, "FT_ListDevices", functions->listDevices) &&
                        resolve(module, "FT_OpenEx", functions->openEx) &&
                        resolve(module, "FT_SetTimeouts", functions->setTimeouts) &&
                        resolve(module, "FT_GetQueueStatus", functions->getQueueStatus) &&
                        resolve(module, "FT_Write", functions->write) &&
                        resolve(module, "FT_Read", functions->read) &&
                        resolve(module, "FT_Close", functions->close);
  if (!complete) {
    closeModule(module);
    return nullptr;
  }
  resolve(module, "FT_SetLatencyTimer", functions->setLatencyTimer);
  resolve(module, "FT_Purge", functions->purge);
  resolve(module, "FT_GetLibraryVersion", functions->libraryVersion);
  resolve(module, "FT_GetDeviceInfo", functions->deviceInfo);
  resolve(module, "FT_CreateDeviceInfoList", functions->createDeviceInfoList);
  resolve(module, "FT_GetDeviceInfoDetail", functions->getDeviceInfoDetail);
  return std::unique_ptr<Ftd2xxLibrary>(new Ftd2xxLibrary(module, std::move(functions)));
}

Ftd2xxLibrary::Ftd2xxLibrary(void* module, std::unique_ptr<Functions> functions)
    : module_(module), functions_(std::move(functions)) {
#if defined(__linux__)
  serialDriverLoaded = [] {
    std::error_code ignored;
    return std::filesystem::exists("/sys/module/ftdi_sio", ignored);
  };
  deviceNodesOpenable = [] {
    const std::vector<UsbDevice> devices = listUsbDevices();
    return std::all_of(devices.begin(), devices.end(),
                       [](const UsbDevice& device) { return device.mayOpen; });
  };
#endif
}

std::vector<DriverFact> Ftd2xxLibrary::facts() const {
  std::vector<DriverFact> facts;
  Dword version = 0;
  if (functions_->libraryVersion != nullptr && functions_->libraryVersion(&version) == ft::Ok) {
    facts.push_back({"d2xx", std::to_string(version >> 16 & 0xFF) + "." +
                                 std::to_string(version >> 8 & 0xFF) + "." +
                                 std::to_string(version & 0xFF)});
  }
  facts.insert(facts.end(), openFacts_.begin(), openFacts_.end());
  return facts;
}

std::vector<UsbDevice> Ftd2xxLibrary::usbDevices() const {
  std::error_code ignored;
  if (std::filesystem::is_directory(systemUsbDevices, ignored)) {
    return listUsbDevices(systemUsbDevices);
  }
  return libraryUsbDevices();
}

std::vector<UsbDevice> Ftd2xxLibrary::libraryUsbDevices() const {
  std::vector<UsbDevice> devices;
  for (const Functions::Listed& listed : functions_->listed()) {
    UsbDevice device;
    device.vendorId = hex4(listed.id >> 16);
    device.productId = hex4(listed.id);
    const ChipKind kind = chipKind(listed.type);
    device.bcdDevice = *kind.bcdDevice != '\0' ? kind.bcdDevice : "unknown";
    device.serial = libraryText(listed.serial, sizeof listed.serial);
    device.product = libraryText(listed.description, sizeof listed.description);
    const bool highSpeed = (listed.flags & kFlagHighSpeed) != 0;
    device.speed = highSpeed ? "480" : "12";
    device.maxPacketSize = highSpeed ? 512 : 64;  // a bulk endpoint's at that speed
    device.node = "D2XX device " + std::to_string(listed.index);
    // Windows gives a USB device to whoever runs the program; one open elsewhere is told when
    // the open is refused.
    device.mayOpen = true;
    devices.push_back(device);
  }
  return devices;
}

// What the library's list adds of the device just opened: its release and speed.
void Ftd2xxLibrary::addDetailFacts(FtHandle opened) {
  for (const Functions::Listed& listed : functions_->listed()) {
    if (listed.handle != opened || (listed.flags & kFlagOpened) == 0) continue;
    const ChipKind kind = chipKind(listed.type);
    if (*kind.bcdDevice != '\0') openFacts_.push_back({"bcdDevice", kind.bcdDevice});
    const bool highSpeed = (listed.flags & kFlagHighSpeed) != 0;
    openFacts_.push_back({"max-packet-size", highSpeed ? "512" : "64"});
    openFacts_.push_back({"speed", highSpeed ? "high speed (480 Mb/s)" : "full speed (12 Mb/s)"});
    return;
  }
}

std::vector<std::string> Ftd2xxLibrary::takeNotes() {
  return std::exchange(notes_, {});
}

Ftd2xxLibrary::~Ftd2xxLibrary() {
  functions_.reset();
  closeModule(module_);
}

FtStatus Ftd2xxLibrary::ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
  // Passed through untouched: depending on `flags`, arg1 is the address of a DWORD count or a
  // device index in place of a pointer.
  return status(functions_->listDevices(arg1, arg2, Dword{flags}));
}

FtStatus Ftd2xxLibrary::OpenEx(void* arg1, std::uint32_t flags, FtHandle* handle) {
  if (handle == nullptr) return ft::InvalidParameter;
  void* opened = nullptr;
  const FtStatus result = status(functions_->openEx(arg1, Dword{flags}, &opened));
  *handle = opened;
  openFacts_.clear();
  if (result != ft::Ok) openFacts_.push_back({"open-error", "status " + std::to_string(result)});
  // The library only says "not opened". On Linux that is a device node this user may not open,
  // or a chip the kernel's serial driver holds (how a stock system has it); the first is told
  // first, since the second cannot be known until the first is out of the way.
  if (result == ft::DeviceNotOpened) {
    if (deviceNodesOpenable && !deviceNodesOpenable()) {
      notes_.push_back(opennote::kNoPermission);
    } else if (serialDriverLoaded && serialDriverLoaded()) {
      notes_.push_back(opennote::kSerialDriver);
    }
  }
  if (result != ft::Ok) return result;
  // Bytes an earlier session left in the chip or the driver would be read as the first reply
  // (libftdi's open resets the chip; the vendor's does not).
  if (functions_->purge != nullptr) {
    openFacts_.push_back({"purge", std::to_string(functions_->purge(opened, kPurgeBoth))});
  }
  if (functions_->deviceInfo != nullptr) {
    Ulong type = 0;
    Dword id = 0;
    char serial[16] = {};
    char description[64] = {};
    if (functions_->deviceInfo(opened, &type, &id, serial, description, nullptr) == ft::Ok) {
      openFacts_.push_back({"vid:pid", hex4(id >> 16) + ":" + hex4(id)});
      openFacts_.push_back({"chip", chipName(type)});
    }
  }
  addDetailFacts(opened);
  // The chip holds back a part-filled packet until its latency timer runs out, which would add
  // that much to every short reply of the programmer. A refusal only costs speed, so it does
  // not fail the open.
  latencyTimerMs_ = kChipLatencyTimerMs;
  if (functions_->setLatencyTimer != nullptr &&
      functions_->setLatencyTimer(opened, static_cast<unsigned char>(kShortLatencyTimerMs)) ==
          ft::Ok) {
    latencyTimerMs_ = kShortLatencyTimerMs;
  } else {
    notes_.push_back(opennote::kNoLatencyTimer);
  }
  openFacts_.push_back({"latency-timer", latencyTimerMs_ == kShortLatencyTimerMs
                                             ? "2 ms"
                                             : "refused: the chip's own 16 ms"});
  return result;
}

FtStatus Ftd2xxLibrary::SetTimeouts(FtHandle handle, std::uint32_t readTimeoutMs,
                                    std::uint32_t writeTimeoutMs) {
  return status(functions_->setTimeouts(handle, Ulong{readTimeoutMs}, Ulong{writeTimeoutMs}));
}

FtStatus Ftd2xxLibrary::GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) {
  if (rxBytes == nullptr) return ft::InvalidParameter;
  Dword queued = 0;
  const FtStatus result = status(functions_->getQueueStatus(handle, &queued));
  *rxBytes = static_cast<std::uint32_t>(queued);
  return result;
}

FtStatus Ftd2xxLibrary::Write(FtHandle handle, const void* buffer, std::uint32_t count,
                              std::uint32_t* written) {
  if (written == nullptr) return ft::InvalidParameter;
  Dword sent = 0;
  // The published prototype takes a non-const buffer; the library only reads it.
  const FtStatus result =
      status(functions_->write(handle, const_cast<void*>(buffer), Dword{count}, &sent));
  *written = static_cast<std::uint32_t>(sent);
  return result;
}

FtStatus Ftd2xxLibrary::Read(FtHandle handle, void* buffer, std::uint32_t count,
                             std::uint32_t* received) {
  if (received == nullptr) return ft::InvalidParameter;
  Dword got = 0;
  const FtStatus result = status(functions_->read(handle, buffer, Dword{count}, &got));
  *received = static_cast<std::uint32_t>(got);
  return result;
}

FtStatus Ftd2xxLibrary::Close(FtHandle handle) {
  return status(functions_->close(handle));
}

}  // namespace tandra
