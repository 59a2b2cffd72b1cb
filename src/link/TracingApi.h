#pragma once

#include "link/ForwardingApi.h"
#include "link/Trace.h"

namespace tandra {

// A driver that passes every call to another one and writes what it carried into a trace.
class TracingApi final : public ForwardingApi {
 public:
  TracingApi(FtApi& inner, Trace& trace) : ForwardingApi(inner), trace_(trace) {}

  FtStatus ListDevices(void* arg1, void* arg2, std::uint32_t flags) override;
  FtStatus OpenEx(void* arg1, std::uint32_t flags, FtHandle* handle) override;
  FtStatus SetTimeouts(FtHandle handle, std::uint32_t readTimeoutMs,
                       std::uint32_t writeTimeoutMs) override;
  FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) override;
  FtStatus Write(FtHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override;
  FtStatus Read(FtHandle handle, void* buffer, std::uint32_t count,
                std::uint32_t* received) override;
  FtStatus Close(FtHandle handle) override;

 private:
  Trace& trace_;
};

}  // namespace tandra
