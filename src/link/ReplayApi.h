#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/FtApi.h"
#include "link/Host.h"

namespace tandra {

// A programmer that answers as a trace says one answered: each command the program sends is
// held against the next one the trace holds, and when they agree, the bytes the trace received
// after it become the reply. A command that differs ends the replay there; the difference is
// kept for the report. Time plays no part: a reply the trace never got is simply not there.
class ReplayApi final : public FtApi {
 public:
  // The first command the program sent that the trace does not hold.
  struct Difference {
    std::size_t command = 0;     // 1 for the first command sent
    std::size_t byteOffset = 0;  // where it first differs (the length, when only that differs)
    std::optional<std::uint8_t> expected;  // nothing: the trace's command was shorter, or gone
    std::optional<std::uint8_t> sent;      // nothing: the sent command was shorter
    // The reply that made the job send something else: an answer it took differently from the
    // traced run (an edited trace, or a different program). Of the replies just before the
    // command, the last with a status other than 0x00 (a refused page), or else the last.
    std::vector<std::uint8_t> replyBefore;
    std::size_t replyTo = 0;  // the command it answered
    std::string describe() const;
  };

  // Reads the trace at `path`; FileError when it cannot be read or is no trace.
  static ReplayApi load(const std::string& path);
  // The trace's facts of `key` (program, driver, argument, exit, ...), in their order.
  std::vector<std::string> facts(const std::string& key) const;

  const std::optional<Difference>& difference() const { return difference_; }
  // Commands of the trace that the program did not send.
  std::size_t commandsLeft() const;
  // Every operation's sockets as their labels last looked in the traced run, in order, by the
  // trace's words for the looks.
  const std::vector<std::map<int, std::string>>& tracedLooks() const { return tracedLooks_; }
  // The traced run ended a wait on time, not by count (a reply incomplete when its time ran
  // out, replies out of step): a replay serves bytes without their timing and cannot show such
  // a fault.
  bool endedOnTime() const { return endedOnTime_; }

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
  std::string driverName() const override;
  std::uint32_t latencyTimerMs() const override { return kShortLatencyTimerMs; }

 private:
  // What the trace holds after a command, in order: bytes received, or a failed call.
  struct Incoming {
    std::vector<std::uint8_t> bytes;
    FtStatus status = ft::Ok;  // a read or a queue-status call that failed here
  };
  struct Command {
    std::vector<std::uint8_t> bytes;
    std::uint32_t written = 0;
    FtStatus status = ft::Ok;
    std::vector<Incoming> after;
  };

  ReplayApi() = default;
  FtHandle handle() { return this; }
  // A command's reply is on its way (arrive), then there (arrived).
  void arrive(const std::vector<Incoming>& incoming);
  void arrived();

  std::vector<std::pair<std::string, std::string>> facts_;
  std::optional<std::uint32_t> count_;
  std::map<std::uintptr_t, std::string> serials_;
  std::map<std::uintptr_t, std::string> descriptions_;
  std::deque<FtStatus> opens_;
  std::vector<Incoming> beforeAnyCommand_;
  std::vector<Command> commands_;
  std::size_t nextCommand_ = 0;
  std::deque<Incoming> pending_;
  std::deque<Incoming> arriving_;
  std::optional<Difference> difference_;
  // The replies received, by the command they followed: what a difference is traced back to.
  std::vector<std::pair<std::size_t, std::vector<std::uint8_t>>> received_;
  bool readSinceWrite_ = false;
  std::pair<std::size_t, std::vector<std::uint8_t>> replyBehind() const;
  std::vector<std::map<int, std::string>> tracedLooks_;
  bool endedOnTime_ = false;
  bool open_ = false;
};

}  // namespace tandra
