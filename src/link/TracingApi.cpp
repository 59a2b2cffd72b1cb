#include "link/TracingApi.h"

#include <cstdint>
#include <string>

namespace tandra {

namespace {

std::string numbers(std::initializer_list<std::uint64_t> values) {
  std::string text;
  for (std::uint64_t value : values) text += (text.empty() ? "" : " ") + std::to_string(value);
  return text;
}

}  // namespace

FtStatus TracingApi::ListDevices(void* arg1, void* arg2, std::uint32_t flags) {
  const FtStatus status = ForwardingApi::ListDevices(arg1, arg2, flags);
  if ((flags & ft::ListNumberOnly) != 0) {
    const std::uint32_t count =
        status == ft::Ok && arg1 != nullptr ? *static_cast<std::uint32_t*>(arg1) : 0;
    trace_.event("count", numbers({status, count}));
  } else if ((flags & ft::ListByIndex) != 0) {
    const auto index = reinterpret_cast<std::uintptr_t>(arg1);
    const char* text = status == ft::Ok && arg2 != nullptr ? static_cast<const char*>(arg2) : "";
    trace_.event((flags & ft::OpenByDescription) != 0 ? "description" : "serial",
                 numbers({index, status}) + " " + text);
  }
  return status;
}

FtStatus TracingApi::OpenEx(void* arg1, std::uint32_t flags, FtHandle* handle) {
  const FtStatus status = ForwardingApi::OpenEx(arg1, flags, handle);
  trace_.event("open", std::to_string(status) + " " +
                           (arg1 != nullptr ? static_cast<const char*>(arg1) : ""));
  // What the driver found out opening it: the chip, its packets and speed, the latency timer,
  // and where the open failed, why.
  for (const DriverFact& fact : facts()) trace_.fact("usb." + fact.key, fact.value);
  return status;
}

FtStatus TracingApi::SetTimeouts(FtHandle handle, std::uint32_t readTimeoutMs,
                                 std::uint32_t writeTimeoutMs) {
  const FtStatus status = ForwardingApi::SetTimeouts(handle, readTimeoutMs, writeTimeoutMs);
  trace_.event("timeouts", numbers({status, readTimeoutMs, writeTimeoutMs}));
  return status;
}

FtStatus TracingApi::GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) {
  // Asked a thousand times a second while a reply is awaited: only a failure is news.
  const FtStatus status = ForwardingApi::GetQueueStatus(handle, rxBytes);
  if (status != ft::Ok) trace_.event("queue", std::to_string(status));
  return status;
}

FtStatus TracingApi::Write(FtHandle handle, const void* buffer, std::uint32_t count,
                           std::uint32_t* written) {
  const FtStatus status = ForwardingApi::Write(handle, buffer, count, written);
  trace_.sent(static_cast<const std::uint8_t*>(buffer), buffer != nullptr ? count : 0,
              written != nullptr ? *written : 0, status);
  return status;
}

FtStatus TracingApi::Read(FtHandle handle, void* buffer, std::uint32_t count,
                          std::uint32_t* received) {
  const FtStatus status = ForwardingApi::Read(handle, buffer, count, received);
  const std::uint32_t got = received != nullptr && buffer != nullptr ? *received : 0;
  trace_.received(static_cast<const std::uint8_t*>(buffer), count, got, status);
  return status;
}

FtStatus TracingApi::Close(FtHandle handle) {
  const FtStatus status = ForwardingApi::Close(handle);
  trace_.event("close", std::to_string(status));
  return status;
}

}  // namespace tandra
