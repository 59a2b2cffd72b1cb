#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/ForwardingApi.h"
#include "Soak.h"
#include "TestHost.h"
#include "device/Session.h"
#include "sim/VirtualProgrammer.h"

namespace tandra::test {

// An operation that did not end within its bound.
struct Hang : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The virtual programmer as the driver the session calls: it notes the last command the
// programmer took, and ends an operation that calls the driver without end (a loop that never
// pumps messages, where the clock alone would not show it).
class WatchedDriver final : public ForwardingApi {
 public:
  explicit WatchedDriver(VirtualProgrammer& programmer)
      : ForwardingApi(programmer), programmer_(programmer) {}

  void limitCalls(std::uint64_t calls) {
    calls_ = 0;
    callLimit_ = calls;
  }
  std::optional<std::uint8_t> lastCommandTaken() const { return lastCommand_; }
  std::uint64_t commandsTaken() const { return commandsTaken_; }

  FtStatus GetQueueStatus(FtHandle handle, std::uint32_t* rxBytes) override {
    countCall();
    return ForwardingApi::GetQueueStatus(handle, rxBytes);
  }
  FtStatus Write(FtHandle handle, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override {
    countCall();
    const FtStatus status = ForwardingApi::Write(handle, buffer, count, written);
    if (status == ft::Ok && count > 0) {
      lastCommand_ = *static_cast<const std::uint8_t*>(buffer);
      ++commandsTaken_;
    }
    return status;
  }
  FtStatus Read(FtHandle handle, void* buffer, std::uint32_t count,
                std::uint32_t* received) override {
    countCall();
    return ForwardingApi::Read(handle, buffer, count, received);
  }

 private:
  void countCall() {
    if (++calls_ > callLimit_) throw Hang("the driver was called without end");
  }

  VirtualProgrammer& programmer_;
  std::uint64_t calls_ = 0;
  std::uint64_t callLimit_ = UINT64_MAX;
  std::optional<std::uint8_t> lastCommand_;
  std::uint64_t commandsTaken_ = 0;
};

// Something to do at a given message pump of the running operation.
struct PumpAction {
  std::int64_t atPump;
  std::function<void()> act;
};

// One operation as drawn: what runs on which chips, and the faults that meet it.
struct SoakPlan {
  std::uint64_t number = 0;
  const Chip* type = nullptr;
  int sockets = 1;
  Operation operation = Operation::Program;
  bool fullLengthReplies = false;  // the firmware sends 2,048 bytes after every header
  bool fullWaits = false;          // the operator chose full waits (--full-waits)
  std::vector<std::string> notes;  // each fault as armed
  std::vector<PumpAction> actions;
  bool cablePulled = false;          // set when it happens
  bool stopHeld = false;             // set when it happens
  std::int64_t operatorPauseMs = 0;  // before the clean check

  std::int32_t end() const { return type->endAddress(); }
  // How long the operation may run on the programmer's clock before it counts as a hang.
  std::int64_t boundMs() const;
  // "operation 17: Verify 27C256 x3; late reply x2 by 3500 ms at pump 120"
  std::string describe() const;
};

// A session on the virtual programmer with a test host: the watchdog wired to the link, and
// packets not kept (a long run would keep millions).
struct SoakRig {
  using Action = PumpAction;

  SoakRig() {
    host.onWatchdog = [this] { session.watchdogFired(); };
    programmer.setRecordPackets(false);
  }

  // Runs one operation and copies its result, doing each action at its pump (those at pump 0
  // before it begins). Throws Hang once it has run longer than `boundMs` on the programmer's
  // clock, or called the driver far more often than it could in that time.
  OperationResult run(Operation operation, std::int64_t boundMs, std::vector<Action> actions = {}) {
    const Clock::Millis started = host.clock.now();
    const std::uint64_t commandsBefore = driver.commandsTaken();
    std::int64_t pumps = 0;
    host.onPump = [&] {
      ++pumps;
      if ((host.clock.now() - started).count() > boundMs) throw Hang("no end within the bound");
      for (const Action& action : actions) {
        if (action.atPump == pumps) action.act();
      }
    };
    for (const Action& action : actions) {
      if (action.atPump == 0) action.act();
    }
    driver.limitCalls(static_cast<std::uint64_t>(boundMs) * 20 + 10000);
    struct PumpReset {
      TestHost& host;
      ~PumpReset() { host.onPump = nullptr; }
    } reset{host};
    OperationResult result = session.run(operation);
    lastElapsedMs = (host.clock.now() - started).count();
    lastCommandsTaken = driver.commandsTaken() - commandsBefore;
    return result;
  }

  // What piles up in the test host from operation to operation.
  void forgetShownThings() {
    host.captionHistory.clear();
    host.progress.clear();
    host.boxes.clear();
    host.sleeps.clear();
  }

  TestHost host;
  VirtualProgrammer programmer{host.clock};
  WatchedDriver driver{programmer};
  Session session{driver, host.events};
  std::int64_t lastElapsedMs = 0;
  std::uint64_t lastCommandsTaken = 0;  // by the programmer in the last operation
};

}  // namespace tandra::test
