#pragma once

#include "link/FtApi.h"

namespace tandra {

// The seven D2XX calls on libftdi1, for systems without the vendor's library. libftdi has no
// queue-status call and a different time-out model, so this keeps its own receive buffer and
// read deadline.
class LibFtdiApi final : public FtApi {
 public:
  LibFtdiApi();
  ~LibFtdiApi() override;

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
};

}  // namespace tandra
