#include "link/LibFtdiApi.h"

#include <ftdi.h>
#include <libusb.h>

#include <climits>
#include <cstdio>
#include <iterator>
#include <string>
#include <utility>

namespace tandra {

namespace {

// libusb's time-out for one poll of the chip. A live chip answers every poll within its latency
// timer, with at least its two status bytes, so this only runs out when the chip has stopped
// answering; keeping it short keeps a read close to its own deadline.
constexpr int kPollTimeoutMs = 50;

// What a D2XX write time-out of 0 (the driver's default) becomes: libftdi's own default.
constexpr int kDefaultWriteTimeoutMs = 5000;

// ftdi_usb_open_dev's results: libusb could not open the device node (no permission, among
// other causes: libusb's own answer tells which), the interface could not be claimed, and the
// kernel's serial driver could not be taken off it for want of permission.
constexpr int kOpenFailed = -4;
constexpr int kClaimFailed = -5;
constexpr int kDetachRefused = -8;
// ftdi_usb_get_strings' result when the device could not be opened to read them.
constexpr int kStringsOpenFailed = -4;

// The FTDI devices libftdi finds under its default ids, freed when done.
class DeviceList {
 public:
  explicit DeviceList(ftdi_context* ctx) : count_(ftdi_usb_find_all(ctx, &head_, 0, 0)) {}
  ~DeviceList() { ftdi_list_free(&head_); }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;

  // Negative when libusb could not list the bus.
  int count() const { return count_; }
  ftdi_device_list* head() const { return head_; }

  libusb_device* at(std::uintptr_t index) const {
    ftdi_device_list* node = head_;
    for (; node != nullptr && index > 0; node = node->next) --index;
    return node != nullptr ? node->dev : nullptr;
  }

 private:
  ftdi_device_list* head_ = nullptr;
  int count_;
};

// One bulk-in transfer straight through libusb. ftdi_read_data is not used: when libusb ends a
// transfer with a time-out after part of it came (a long reply trickling in), libftdi reports
// only the error and drops those bytes.
bool fetchFromChip(ftdi_context* ctx, std::vector<std::uint8_t>& into) {
  const BulkTransfer transfer = [ctx](unsigned char* buffer, int size, int* actual) {
    return libusb_bulk_transfer(ctx->usb_dev, static_cast<unsigned char>(ctx->out_ep), buffer, size,
                                actual, kPollTimeoutMs);
  };
  return fetchFromTransfer(transfer, ctx->readbuffer_chunksize, ctx->max_packet_size, into);
}

// Reads the serial number or the description of `dev` into `text`, which holds
// ft::ListStringCapacity characters. Returns libftdi's result. A chip without a serial number
// string has an empty one, as the vendor's driver reports it.
int readString(ftdi_context* ctx, libusb_device* dev, bool serial, char* text) {
  constexpr int kCapacity = static_cast<int>(ft::ListStringCapacity);
  libusb_device_descriptor descriptor{};
  if (serial && libusb_get_device_descriptor(dev, &descriptor) == 0 &&
      descriptor.iSerialNumber == 0) {
    text[0] = '\0';
    return 0;
  }
  return ftdi_usb_get_strings(ctx, dev, nullptr, 0, serial ? nullptr : text, serial ? 0 : kCapacity,
                              serial ? text : nullptr, serial ? kCapacity : 0);
}

// Opens `dev` on `ctx` and claims its interface. The first attempt has libusb detach the
// kernel's serial driver and attach it again at close, so that the port is back as a tty once
// the program lets go. In that mode libusb fails the claim as soon as the kernel (or a sandbox
// in front of usbfs) refuses the detach request, even when no driver holds the interface;
// libftdi's plain mode only tries the detach and claims anyway, so it gets the second attempt.
int openChip(ftdi_context* ctx, libusb_device* dev) {
  ctx->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
  const int result = ftdi_usb_open_dev(ctx, dev);
  if (result != kClaimFailed) return result;
  ctx->module_detach_mode = AUTO_DETACH_SIO_MODULE;
  return ftdi_usb_open_dev(ctx, dev);
}

const char* chipName(int type) {
  static constexpr const char* kNames[] = {"FT8U245AM", "FT232BM", "FT2232C", "FT232R",
                                           "FT2232H",   "FT4232H", "FT232H",  "FT230X"};
  return type >= 0 && type < static_cast<int>(std::size(kNames)) ? kNames[type] : "unknown";
}

const char* speedName(int speed) {
  switch (speed) {
    case LIBUSB_SPEED_LOW:
      return "low speed (1.5 Mb/s)";
    case LIBUSB_SPEED_FULL:
      return "full speed (12 Mb/s)";
    case LIBUSB_SPEED_HIGH:
      return "high speed (480 Mb/s)";
    default:
      return "speed unknown";
  }
}

std::string hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value & 0xFFFF);
  return text;
}

// What a maintainer needs to know of the device just opened (or tried).
std::vector<DriverFact> deviceFacts(libusb_device* dev) {
  libusb_device_descriptor descriptor{};
  std::vector<DriverFact> facts;
  if (libusb_get_device_descriptor(dev, &descriptor) == 0) {
    facts.push_back({"vid:pid", hex4(descriptor.idVendor) + ":" + hex4(descriptor.idProduct)});
    facts.push_back({"bcdDevice", hex4(descriptor.bcdDevice)});
  }
  facts.push_back({"speed", speedName(libusb_get_device_speed(dev))});
  return facts;
}

}  // namespace

const char* openFailureNote(int libftdiResult, int libusbOpenResult) {
  switch (libftdiResult) {
    case kOpenFailed:
      if (libusbOpenResult == LIBUSB_ERROR_ACCESS) return opennote::kNoPermission;
      if (libusbOpenResult == LIBUSB_ERROR_BUSY) return opennote::kInUse;
      return nullptr;
    case kClaimFailed:
      return opennote::kInUse;
    case kDetachRefused:
      return opennote::kSerialDriverRefused;
    default:
      return nullptr;
  }
}

void appendPayload(const std::uint8_t* transfer, std::size_t actual, std::size_t packetSize,
                   std::vector<std::uint8_t>& into) {
  constexpr std::size_t kStatusBytes = 2;
  if (packetSize <= kStatusBytes) return;
  for (std::size_t packet = 0; packet < actual; packet += packetSize) {
    const std::size_t end = std::min(actual, packet + packetSize);
    if (end > packet + kStatusBytes)
      into.insert(into.end(), transfer + packet + kStatusBytes, transfer + end);
  }
}

bool fetchFromTransfer(const BulkTransfer& transfer, std::size_t transferSize,
                       std::size_t packetSize, std::vector<std::uint8_t>& into) {
  std::vector<std::uint8_t> buffer(std::max<std::size_t>(transferSize, packetSize));
  int actual = 0;
  const int result = transfer(buffer.data(), static_cast<int>(buffer.size()), &actual);
  appendPayload(buffer.data(),
                static_cast<std::size_t>(std::clamp(actual, 0, static_cast<int>(buffer.size()))),
                packetSize, into);
  return result == 0 || result == kTransferTimedOut;
}

struct LibFtdiApi::Device {
  Device() : ctx(ftdi_new()) {}
  ~Device() {
    if (ctx == nullptr) return;
    ftdi_usb_close(ctx);
    ftdi_free(ctx);
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  ftdi_context* ctx;  // Each device has its own, and with it its own libusb context.
  int bus = -1;
  int address = -1;
  std::uint32_t readTimeoutMs = 0;  // No time-out until SetTimeouts, as with D2XX.
  ReceiveQueue queue;
  ReceiveQueue::Fetch fetch;
};

LibFtdiApi::LibFtdiApi() = default;

LibFtdiApi::~LibFtdiApi() {
  devices_.clear();
  if (lister_ != nullptr) ftdi_free(lister_);
}

LibFtdiApi::Device* LibFtdiApi::find(FtHandle handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = devices_.find(handle);
  return it != devices_.end() ? it->second.get() : nullptr;
}

bool LibFtdiApi::isOpen(int bus, int address) {
  for (const auto& [handle, device] : devices_) {
    if (device->bus == bus && device->address == address) return true;
  }
  return false;
}

FtStatus LibFtdiApi::ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
  const bool numberOnly = (flags & ft::ListNumberOnly) != 0;
  const std::uint32_t wanted = flags & (ft::OpenBySerialNumber | ft::OpenByDescription);
  const bool byIndex = (flags & ft::ListByIndex) != 0 && arg2 != nullptr &&
                       (wanted == ft::OpenBySerialNumber || wanted == ft::OpenByDescription);
  if (numberOnly ? arg1 == nullptr : !byIndex) return ft::InvalidParameter;

  std::lock_guard<std::mutex> lock(mutex_);
  if (lister_ == nullptr) lister_ = ftdi_new();
  if (lister_ == nullptr) return ft::OtherError;
  const DeviceList list(lister_);
  if (list.count() < 0) return ft::IoError;
  if (numberOnly) {
    *static_cast<std::uint32_t*>(arg1) = static_cast<std::uint32_t>(list.count());
    return ft::Ok;
  }

  char* const text = static_cast<char*>(arg2);
  text[0] = '\0';
  libusb_device* const dev = list.at(reinterpret_cast<std::uintptr_t>(arg1));
  if (dev == nullptr) return ft::DeviceNotFound;
  const int result = readString(lister_, dev, wanted == ft::OpenBySerialNumber, text);
  if (result == kStringsOpenFailed) return ft::DeviceNotOpened;
  if (result < 0) {
    text[0] = '\0';
    return ft::IoError;
  }
  return ft::Ok;
}

FtStatus LibFtdiApi::OpenEx(void* arg1, std::uint32_t flags, FtHandle* handle) {
  if (handle == nullptr) return ft::InvalidParameter;
  *handle = nullptr;
  if (flags != ft::OpenBySerialNumber && flags != ft::OpenByDescription) {
    return ft::InvalidParameter;
  }
  const std::string wanted = arg1 != nullptr ? static_cast<const char*>(arg1) : "";

  // Held throughout, so that two threads cannot both find the same device free.
  std::lock_guard<std::mutex> lock(mutex_);
  auto device = std::make_unique<Device>();
  if (device->ctx == nullptr) return ft::InsufficientResources;

  const DeviceList list(device->ctx);
  if (list.count() < 0) return ft::IoError;
  libusb_device* chosen = nullptr;
  for (ftdi_device_list* node = list.head(); node != nullptr && chosen == nullptr;
       node = node->next) {
    // An empty text takes the first device, as D2XX does. A device whose strings cannot be
    // read (in use elsewhere, say) is simply not a match.
    char text[ft::ListStringCapacity] = {};
    if (wanted.empty() ||
        (readString(device->ctx, node->dev, flags == ft::OpenBySerialNumber, text) == 0 &&
         wanted == text)) {
      chosen = node->dev;
    }
  }
  if (chosen == nullptr) return ft::DeviceNotFound;

  device->bus = libusb_get_bus_number(chosen);
  device->address = libusb_get_device_address(chosen);
  openFacts_ = deviceFacts(chosen);
  // Our own record first: the kernel refuses a second claim, but not every stand-in for usbfs
  // does (umockdev's replay grants it), and this answer costs no USB traffic.
  if (isOpen(device->bus, device->address)) return ft::DeviceNotOpened;
  if (const int opened = openChip(device->ctx, chosen); opened != 0) {
    // libftdi says only that the device node would not open; libusb says why.
    int libusbResult = 0;
    if (opened == kOpenFailed) {
      libusb_device_handle* probe = nullptr;
      libusbResult = libusb_open(chosen, &probe);
      if (probe != nullptr) libusb_close(probe);
    }
    if (const char* note = openFailureNote(opened, libusbResult)) notes_.push_back(note);
    // What the libraries said, for the trace: the note above is only what to do.
    std::string error =
        "libftdi " + std::to_string(opened) + " (" + ftdi_get_error_string(device->ctx) + ")";
    if (libusbResult != 0) error += ", libusb " + std::string(libusb_error_name(libusbResult));
    openFacts_.push_back({"open-error", error});
    return ft::DeviceNotOpened;
  }
  openFacts_.push_back({"chip", chipName(static_cast<int>(device->ctx->type))});
  openFacts_.push_back({"max-packet-size", std::to_string(device->ctx->max_packet_size)});
  // The open resets the chip, and with it what an earlier session left in its buffers.
  openFacts_.push_back({"reset", "0 (by the open; its buffers with it)"});
  // The oldest chips have no latency timer to set: they work all the same, only slower.
  latencyTimerMs_ = kShortLatencyTimerMs;
  const int latency =
      ftdi_set_latency_timer(device->ctx, static_cast<unsigned char>(kShortLatencyTimerMs));
  if (latency != 0) {
    latencyTimerMs_ = kChipLatencyTimerMs;
    notes_.push_back(opennote::kNoLatencyTimer);
  }
  openFacts_.push_back(
      {"latency-timer",
       latency == 0 ? "2 ms" : "refused (" + std::to_string(latency) + "): the chip's own 16 ms"});
  device->ctx->usb_write_timeout = kDefaultWriteTimeoutMs;

  ftdi_context* const ctx = device->ctx;
  device->fetch = [ctx](std::vector<std::uint8_t>& into) { return fetchFromChip(ctx, into); };
  FtHandle const opened = device.get();
  devices_.emplace(opened, std::move(device));
  *handle = opened;
  return ft::Ok;
}

FtStatus LibFtdiApi::SetTimeouts(FtHandle handle, std::uint32_t readTimeoutMs,
                                 std::uint32_t writeTimeoutMs) {
  Device* const device = find(handle);
  if (device == nullptr) return ft::InvalidHandle;
  device->readTimeoutMs = readTimeoutMs;
  device->ctx->usb_write_timeout =
      writeTimeoutMs == 0 ? kDefaultWriteTimeoutMs
                          : static_cast<int>(std::min<std::uint32_t>(writeTimeoutMs, INT_MAX));
  return ft::Ok;
}

FtStatus LibFtdiApi::GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) {
  Device* const device = find(handle);
  if (device == nullptr) return ft::InvalidHandle;
  if (rxBytes == nullptr) return ft::InvalidParameter;
  const FtStatus status = device->queue.poll(device->fetch);
  *rxBytes = static_cast<std::uint32_t>(device->queue.size());
  return status;
}

FtStatus LibFtdiApi::Write(FtHandle handle, const void* buffer, std::uint32_t count,
                           std::uint32_t* written) {
  Device* const device = find(handle);
  if (device == nullptr) return ft::InvalidHandle;
  if (written == nullptr || (buffer == nullptr && count > 0) || count > INT_MAX) {
    return ft::InvalidParameter;
  }
  *written = 0;
  const int sent = ftdi_write_data(device->ctx, static_cast<const unsigned char*>(buffer),
                                   static_cast<int>(count));
  if (sent < 0) return ft::IoError;
  *written = static_cast<std::uint32_t>(sent);
  return ft::Ok;
}

FtStatus LibFtdiApi::Read(FtHandle handle, void* buffer, std::uint32_t count,
                          std::uint32_t* received) {
  Device* const device = find(handle);
  if (device == nullptr) return ft::InvalidHandle;
  if (received == nullptr || (buffer == nullptr && count > 0)) return ft::InvalidParameter;
  return device->queue.read(static_cast<std::uint8_t*>(buffer), count, received,
                            device->readTimeoutMs, SteadyClock::instance(), device->fetch);
}

std::vector<DriverFact> LibFtdiApi::facts() const {
  std::vector<DriverFact> facts;
  const ftdi_version_info version = ftdi_get_library_version();
  facts.push_back({"libftdi1", version.version_str});
  const libusb_version* usb = libusb_get_version();
  facts.push_back({"libusb", std::to_string(usb->major) + "." + std::to_string(usb->minor) + "." +
                                 std::to_string(usb->micro)});
  facts.insert(facts.end(), openFacts_.begin(), openFacts_.end());
  return facts;
}

std::vector<std::string> LibFtdiApi::takeNotes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(notes_, {});
}

FtStatus LibFtdiApi::Close(FtHandle handle) {
  std::unique_ptr<Device> device;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = devices_.find(handle);
    if (it == devices_.end()) return ft::InvalidHandle;
    device = std::move(it->second);
    devices_.erase(it);
  }
  // Released and closed outside the lock; a release refused by an unplugged device changes
  // nothing for the caller.
  device.reset();
  return ft::Ok;
}

}  // namespace tandra
