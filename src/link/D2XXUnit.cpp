#include "link/D2XXUnit.h"

#include <algorithm>
#include <cstring>

#include "link/Host.h"

namespace tandra {

namespace {

std::string_view statusSuffix(FtStatus status) {
  switch (status) {
    case ft::InvalidHandle:
      return " - Invalid Handle...";
    case ft::DeviceNotFound:
      return " - Device Not Found....";
    case ft::DeviceNotOpened:
      return " - Device Not Opened...";
    case ft::IoError:
      return " - General IO Error...";
    case ft::InsufficientResources:
      return " - Insufficient Resources...";
    case ft::InvalidParameter:
      return " - Invalid Parameter ...";
    default:
      return {};
  }
}

}  // namespace

std::string D2XXUnit::errorText(std::string_view operation, FtStatus status) {
  const std::string_view suffix = statusSuffix(status);
  if (suffix.empty()) return {};
  std::string text(operation);
  text += suffix;
  return text;
}

void D2XXUnit::report(std::string_view operation, FtStatus status) {
  if (!errorReporting_ || status == ft::Ok) return;
  host_.showMessage(BoxKind::Error, errorText(operation, status), std::nullopt);
}

FtStatus D2XXUnit::GetFTDeviceCount() {
  std::uint32_t count = deviceCount_;
  const FtStatus status = api_.ListDevices(&count, nullptr, ft::ListNumberOnly);
  if (status == ft::Ok) deviceCount_ = count;
  report("GetFTDeviceCount", status);
  return status;
}

FtStatus D2XXUnit::listByIndex(std::uint32_t index, std::uint32_t openFlag, std::string_view name) {
  // The published call takes the index itself in place of a pointer.
  void* indexArg = reinterpret_cast<void*>(static_cast<std::uintptr_t>(index));
  const FtStatus status =
      api_.ListDevices(indexArg, serialNumberBuffer_.data(), ft::ListByIndex | openFlag);
  if (status == ft::Ok) {
    serialNumberBuffer_[kSerialTextLimit] = '\0';
    deviceString_.assign(serialNumberBuffer_.data());
  }
  report(name, status);
  return status;
}

FtStatus D2XXUnit::GetFTDeviceSerialNo(std::uint32_t index) {
  return listByIndex(index, ft::OpenBySerialNumber, "GetFTDeviceSerialNo");
}

FtStatus D2XXUnit::GetFTDeviceDescription(std::uint32_t index) {
  return listByIndex(index, ft::OpenByDescription, "GetFTDeviceDescription");
}

FtStatus D2XXUnit::Open_USB_Device_By_Serial_Number(std::string_view serialNumber) {
  const std::size_t length = std::min(serialNumber.size(), kSerialTextLimit);
  std::memcpy(serialNumberBuffer_.data(), serialNumber.data(), length);
  serialNumberBuffer_[length] = '\0';
  const FtStatus status = api_.OpenEx(serialNumberBuffer_.data(), ft::OpenBySerialNumber, &handle_);
  open_ = status == ft::Ok;
  report("Open_USB_Device_By_Serial_Number", status);
  return status;
}

FtStatus D2XXUnit::CloseFTDevice() {
  const FtStatus status = api_.Close(handle_);
  open_ = false;
  report("FT_Close", status);
  return status;
}

FtStatus D2XXUnit::SetFTTimeouts(std::uint32_t readTimeoutMs, std::uint32_t writeTimeoutMs) {
  const FtStatus status = api_.SetTimeouts(handle_, readTimeoutMs, writeTimeoutMs);
  report("FT_SetTimeouts", status);
  return status;
}

FtStatus D2XXUnit::GetFTQueueStatus() {
  std::uint32_t queued = 0;
  const FtStatus status = api_.GetQueueStatus(handle_, &queued);
  if (status == ft::Ok) queueCount_ = queued;
  report("FT_GetQueueStatus", status);
  return status;
}

std::uint32_t D2XXUnit::WriteFTBuffer(std::uint32_t count) {
  count = std::min<std::uint32_t>(count, kTransferBufferSize);
  std::uint32_t written = 0;
  const FtStatus status = api_.Write(handle_, writeBuffer_.data(), count, &written);
  if (status != ft::Ok) written = 0;
  report("FT_Write", status);
  return std::min(written, count);
}

std::uint32_t D2XXUnit::ReadFTBuffer(std::uint32_t count, std::uint32_t offset) {
  offset = std::min<std::uint32_t>(offset, kTransferBufferSize);
  count = std::min<std::uint32_t>(count, kTransferBufferSize - offset);
  std::uint32_t received = 0;
  const FtStatus status = api_.Read(handle_, readBuffer_.data() + offset, count, &received);
  if (status != ft::Ok) received = 0;
  report("FT_Read", status);
  return std::min(received, count);
}

}  // namespace tandra
