#pragma once

#include <cstdint>
#include <functional>

#include "link/Clock.h"
#include "link/ForwardingApi.h"

namespace tandra::test {

// A host that is held up now and then, as a loaded desktop, a virtual machine or a trace
// written to a slow disk or pipe holds a real one: around the driver calls it is asked, the
// clock moves on while the programmer goes on with its work. Nothing of the programmer's
// changes; only the host sees it later.
class HeldUpDriver final : public ForwardingApi {
 public:
  enum class Call { Write, Read, QueueStatus };

  HeldUpDriver(FtApi& inner, ManualClock& clock) : ForwardingApi(inner), clock_(clock) {}

  // How long the host is held up after each call of a kind (0: not at all).
  std::function<std::int64_t(Call)> heldUpMs;
  // Told of every packet before it reaches the programmer.
  std::function<void(const std::uint8_t* packet, std::uint32_t count)> beforeWrite;

  FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) override {
    holdUp(Call::QueueStatus);  // before: what came meanwhile is there at the look
    return ForwardingApi::GetQueueStatus(handle, rxBytes);
  }
  FtStatus Write(FtHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override {
    if (beforeWrite && buffer != nullptr) beforeWrite(static_cast<const std::uint8_t*>(buffer), count);
    const FtStatus status = ForwardingApi::Write(handle, buffer, count, written);
    holdUp(Call::Write);  // after: the command is on its way, its answer may come meanwhile
    return status;
  }
  FtStatus Read(FtHandle handle, void* buffer, std::uint32_t count,
                std::uint32_t* received) override {
    const FtStatus status = ForwardingApi::Read(handle, buffer, count, received);
    holdUp(Call::Read);
    return status;
  }
  std::int64_t heldUpInAllMs() const { return total_; }

 private:
  void holdUp(Call call) {
    const std::int64_t ms = heldUpMs ? heldUpMs(call) : 0;
    if (ms <= 0) return;
    total_ += ms;
    clock_.advance(Clock::Millis(ms));
  }

  ManualClock& clock_;
  std::int64_t total_ = 0;
};

}  // namespace tandra::test
