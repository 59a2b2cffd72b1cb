#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/Clock.h"
#include "link/Commands.h"
#include "link/FtApi.h"
#include "sim/Eprom.h"
#include "sim/LinkTiming.h"
#include "sim/ReplyFaults.h"

namespace tandra {

// A programmer that lives in memory: it receives the bytes the USB chip would, decodes them as
// the programmer's firmware does and answers with the same replies. It stands in for the
// hardware in the program (--virtual), the tests and the benchmarks, and can be told to
// misbehave.
//
// Its firmware is strict: it checks every packet against what the hardware depends on (the
// checksum, the set-up for the socket wiring, the latched address, the control and power bytes,
// the voltage, the algorithm) and keeps a list of what was wrong. A host that gets something
// wrong leaves chips unprogrammed or programmed at the wrong place, as on the bench.
class VirtualProgrammer final : public FtApi {
 public:
  struct AttachedDevice {
    std::string serialNumber;
    std::string description;
  };

  explicit VirtualProgrammer(Clock& clock = SteadyClock::instance());

  // --- What is attached ---
  // Attaches `count` devices named "VP000001", "VP000002", ... (serial) and
  // "Tandra USB Programmer" (description).
  void setDeviceCount(int count);
  std::vector<AttachedDevice>& devices() { return devices_; }
  void setFirmwareVersion(int major, int minor);
  // "1.10" as major 1, minor 10 (each 0 to 255); nothing for anything else.
  static std::optional<std::pair<int, int>> parseFirmwareVersion(std::string_view text);
  // What both programs run on when asked for a virtual programmer: five blank chips answering
  // in the time real ones take, with the firmware version given (or its own).
  static std::unique_ptr<VirtualProgrammer> standIn(
      std::optional<std::pair<int, int>> firmware = std::nullopt);
  int firmwareMajor() const { return firmwareMajor_; }
  int firmwareMinor() const { return firmwareMinor_; }
  // The firmware update: the 16-bit sum of every byte of the records received (byte 7, the
  // packet checksum, left out) is the check value the flash check reports. A restart after a
  // transfer brings the programmer up with the version its update files carry, 1.20.
  std::uint16_t firmwareCheckValue() const { return firmware_.update.check; }
  int firmwareRecordsReceived() const { return firmware_.update.records; }
  int restarts() const { return restarts_; }
  // How long the firmware takes to start after the restart command; it answers nothing
  // meanwhile.
  void setRestartTakes(Clock::Millis takes) { restartTakes_ = takes; }
  // An update file this programmer takes: the header, then `records` records of made-up code
  // whose bytes 2 and 3 count up, with the check value the programmer will compute.
  static std::vector<std::uint8_t> makeUpdateFile(int records);

  // Status byte of the identify reply (0x00 when all is well).
  void setIdentifyStatus(std::uint8_t status) { identifyStatus_ = status; }

  // --- The five sockets, each empty or holding a chip. At first each holds a blank chip of
  // whatever type the host sets the programmer up for. ---
  std::optional<Eprom>& socket(int number) {
    return sockets_.at(static_cast<std::size_t>(number - 1));
  }
  Eprom& chip(int number) { return *socket(number); }
  void removeChip(int number) { socket(number).reset(); }
  // A blank chip of the named type (throws std::invalid_argument for an unknown name).
  Eprom& insertChip(int number, std::string_view typeName);

  // What the firmware was last told.
  std::uint8_t vppSelectCode() const { return firmware_.vppSelectCode; }
  std::uint8_t pulseWidth() const { return firmware_.pulseWidth; }
  std::uint8_t algorithmCode() const { return firmware_.algorithmCode; }

  // Everything the host sent that the hardware would not have taken, one line each.
  const std::vector<std::string>& violations() const { return violations_; }
  void clearViolations() { violations_.clear(); }

  // Replies take the time a full-speed link and real chips would (for a demonstration and the
  // benchmarks): commands and replies take their time on the wire, replies reach the host in
  // USB packets and latency-timer flushes, and the chips take the time below.
  void setRealisticTiming(bool on) { realisticTiming_ = on; }
  static constexpr int kReadBlockMs = 2;        // 2 KiB from a socket
  static constexpr int kProgramPageMs = 20;     // a pulse per byte of a page, then the read-back
  static constexpr int kFirmwareRecordMs = 10;  // the programmer's own flash taking a record
  static constexpr int kRestartTakesMs = 800;   // the stand-in's firmware starting anew
  static constexpr std::uint32_t kTalkBytes = 64;  // what a talking line holds at every look
  // With realistic timing: how long the wire and the chips were busy, the least time what was
  // sent could have taken.
  double modelledMs() const { return timing_.busyMs(); }
  void resetModelledTime() { timing_.resetBusy(); }
  // The programmer's USB chip is a high-speed one: replies reach the host in 512-byte packets.
  void setHighSpeed(bool on) { highSpeed_ = on; }
  // The firmware skips the bytes a blank chip already holds: a page of 0xFF is answered at once.
  void setBlankPagesAtOnce(bool on) { blankPagesAtOnce_ = on; }
  // Replies the host reads only for their header (idle, identify, the firmware's) come with
  // 2,048 data bytes after it, as a firmware that always sends a block would send them.
  void setFullLengthReplies(bool on) { fullLengthReplies_ = on; }
  bool fullLengthReplies() const { return fullLengthReplies_; }

  // --- Faults on demand ---
  // What happens to replies on their way to the host: the calls below, and bit flips in chip
  // data and single late replies, through replyFaults().
  sim::ReplyFaults& replyFaults() { return replyFaults_; }
  // The next `count` commands that would be answered get no reply at all.
  void dropReplies(int count) { replyFaults_.dropReplies(count); }
  // The next `count` replies stop after their first `keep` bytes, as from a driver that went
  // silent in the middle of one.
  void cutReplies(int count, std::size_t keep) { replyFaults_.cutReplies(count, keep); }
  // Every reply starts this long after its command was written.
  void setReplyDelay(Clock::Millis delay) { replyFaults_.setReplyDelay(delay); }
  // The next `count` replies (after the next `skip` ones) stop after their first `keep` bytes
  // for `pause`, then go on.
  void pauseReplies(int count, std::size_t keep, Clock::Millis pause, int skip = 0) {
    replyFaults_.pauseReplies(count, keep, pause, skip);
  }
  // The next `count` writes each report `missing` bytes fewer than asked (the bytes still
  // reach the firmware, as when a write times out after the chip took them).
  void shortenWrites(int count, std::uint32_t missing);
  // The queue-status call fails with an I/O error while this is on.
  void setQueueStatusFailure(bool on) { queueStatusFails_ = on; }
  // The cable is pulled (on): the programmer is gone from the bus and every call on the open
  // device fails. Put back (off), the programmer powers up afresh, as it is powered from the
  // cable, and the USB chip comes back as a new device: a handle opened before the pull stays
  // dead until it is closed, and the host must find and open the programmer again.
  void setUnplugged(bool on);
  bool unplugged() const { return unplugged_; }
  // The system refuses this user the programmer's device node: it is listed, but not opened.
  void setOpenRefused(bool on) { openRefused_ = on; }
  // The USB chip takes no latency timer: it holds a part-filled packet for its own 16 ms.
  void setLatencyTimerRefused(bool on) { latencyTimerRefused_ = on; }
  // The line never falls quiet: bytes no command asked for keep coming (another FTDI device, a
  // firmware that crashed into a loop), from now on or once `afterPackets` more have come in.
  void setTalking(bool on, int afterPackets = 0) {
    talking_ = on && afterPackets == 0;
    talkAfterPackets_ = on ? afterPackets : 0;
  }
  // Every fault above off (replies already on their way still come).
  void clearFaults();

  // --- What the host sent ---
  const std::vector<std::vector<std::uint8_t>>& packets() const { return packets_; }
  void clearPackets() { packets_.clear(); }
  // Keeping every packet costs time and memory in long runs; benchmarks turn it off.
  void setRecordPackets(bool on) { recordPackets_ = on; }
  std::uint64_t bytesWritten() const { return bytesWritten_; }
  std::uint64_t bytesRead() const { return bytesRead_; }
  bool isOpen() const { return open_; }
  int openCount() const { return openCount_; }
  int closeCount() const { return closeCount_; }
  std::uint32_t readTimeoutMs() const { return readTimeoutMs_; }
  // Bytes of replies waiting to be read (arrived or still on their way).
  std::size_t pendingReplyBytes() const;
  // When the last of them reaches the host (or reached it); 0 when none is waiting.
  Clock::Millis repliesInBy() const;

  // --- FtApi ---
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
  std::string driverName() const override { return "virtual programmer"; }
  // The chip's timer as the drivers set it; without realistic timing replies come whole.
  std::uint32_t latencyTimerMs() const override {
    return latencyTimerRefused_ ? kChipLatencyTimerMs : kShortLatencyTimerMs;
  }
  std::vector<std::string> takeNotes() override;
  std::vector<DriverFact> facts() const override;
  std::vector<UsbDevice> usbDevices() const override;

 private:
  struct Reply {
    Clock::Millis arrivesAt;
    std::vector<std::uint8_t> bytes;
    std::size_t consumed = 0;
    bool unseen = false;  // on its way until the host's next look at the line
  };

  bool validHandle(FtHandle handle) const { return open_ && handle == handleToken(); }
  // The open device answers calls: the cable is in and was not pulled since it was opened.
  bool reachable() const { return !unplugged_ && !handleLost_; }
  // The firmware as it starts: no voltage, no set-up, latches and counters cleared.
  void powerUp();
  FtHandle handleToken() const { return const_cast<VirtualProgrammer*>(this); }
  std::uint32_t arrivedBytes();

  enum class SetUpMode { None, Read, Program };
  using Packet = std::vector<std::uint8_t>;

  // The firmware: one packet per write.
  void onPacket(const Packet& packet);
  // Header bytes 1 to 3 of a reply; what they mean depends on the command.
  using HeaderBytes = std::array<std::uint8_t, 3>;
  void answer(std::uint8_t op, std::vector<std::uint8_t> data, std::uint8_t status,
              HeaderBytes bytes1to3 = {}, Clock::Millis takes = {});
  // A reply the host reads for its header alone: the header, or a full block when asked.
  void answerHeader(std::uint8_t op, std::uint8_t status, HeaderBytes bytes1to3 = {},
                    Clock::Millis takes = {});
  void queueReply(std::vector<std::uint8_t> bytes, Clock::Millis takes,
                  const sim::ReplyFaults::Sending& sending);
  void violation(const std::string& what);
  void voltage(const Packet& packet);
  void latch(const Packet& packet);
  void setUp(const Packet& packet);
  void readBlock(const Packet& packet);
  void programBlock(const Packet& packet);
  void firmwareRecord(const Packet& packet);
  // The chip address the latches point at for a block command with these high-address and
  // control bytes, after checking them against the set-up; nothing when there is no set-up
  // of the kind the command needs.
  std::optional<std::uint32_t> blockAddress(const char* command, SetUpMode needed,
                                            std::uint8_t highAddressByte, std::uint8_t controlByte);
  // The socket picked by a select code and bit 7 of the control byte; 0 when none (or more
  // than one) is picked.
  int selectedSocket(std::uint8_t selectCode, std::uint8_t controlByte);
  // The chip in a socket; nullptr for socket 0 or an empty socket.
  Eprom* chipIn(int socketNumber);
  // Whether a chip takes a programming pulse given with this algorithm at the present voltage.
  bool takesPulse(const Eprom& chip, std::uint8_t algorithm) const;

  Clock& clock_;
  std::vector<AttachedDevice> devices_;
  int firmwareMajor_ = 1;
  int firmwareMinor_ = 20;
  std::uint8_t identifyStatus_ = 0x00;

  sim::ReplyFaults replyFaults_;
  sim::ReplyFaults::Addressee addressee_;  // whom the reply to the packet being handled answers
  bool fullLengthReplies_ = false;
  sim::LinkTiming timing_;
  bool answered_ = false;  // the packet being handled got a reply
  int shortWrites_ = 0;
  std::uint32_t shortWriteMissing_ = 0;
  bool queueStatusFails_ = false;
  bool talking_ = false;
  int talkAfterPackets_ = 0;
  bool unplugged_ = false;
  bool openRefused_ = false;
  bool latencyTimerRefused_ = false;
  std::vector<std::string> notes_;
  bool handleLost_ = false;  // the open handle is from before the cable was pulled
  bool realisticTiming_ = false;
  bool highSpeed_ = false;
  bool blankPagesAtOnce_ = false;
  bool recordPackets_ = true;
  std::uint64_t bytesWritten_ = 0;
  std::uint64_t bytesRead_ = 0;

  std::array<std::optional<Eprom>, kSockets> sockets_;
  // What the firmware holds in its memory, all lost when the power goes.
  struct FirmwareState {
    std::uint8_t vppSelectCode = 0;
    std::uint8_t vppLevelCode = 0;
    bool voltageGiven = false;
    std::uint8_t lowAddressLatch = 0;
    std::uint8_t highAddressLatch = 0;
    std::uint8_t controlLatch = 0;
    // The latch commands (selector, value) since the last command of another kind: what a
    // set-up finds on the latches when it comes.
    std::vector<std::array<std::uint8_t, 2>> recentLatches;
    SetUpMode mode = SetUpMode::None;
    const sim::PinoutRules* wiring = nullptr;  // the socket wiring the last set-up chose
    std::uint8_t baseControl = 0;
    std::uint8_t pulseWidth = 0;
    std::uint8_t algorithmCode = 0;
    // Address bits 16 and 17 are on no latch: the firmware counts them itself, carrying when a
    // block starts below the one before.
    std::uint32_t upperAddress = 0;
    std::optional<std::uint32_t> previousBlock;
    // The update records received since the last restart, which ends the update.
    struct Update {
      std::uint16_t check = 0;  // the sum of their bytes, but for each record's checksum
      int records = 0;
    } update;
  };
  FirmwareState firmware_;
  int restarts_ = 0;
  Clock::Millis restartTakes_{0};
  Clock::Millis startedAt_{0};  // when the firmware last finished starting
  std::uint64_t packetNumber_ = 0;
  std::vector<std::string> violations_;

  bool open_ = false;
  int openCount_ = 0;
  int closeCount_ = 0;
  std::uint32_t readTimeoutMs_ = 0;
  std::deque<Reply> replies_;
  std::vector<std::vector<std::uint8_t>> packets_;
};

}  // namespace tandra
