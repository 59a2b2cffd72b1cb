#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/Engine.h"
#include "device/SocketView.h"

namespace tandra {

class ControlStates;
class Engine;
class SocketImages;
class SessionHost;
class ImageBuffer;
class Link;
struct DeviceSettings;

enum class Operation { Program, BlankCheck, Verify, Move, ProgramCompare };

// What became of one socket in an operation.
struct SocketResult {
  // Skipped: left out of the operation, neither passed nor failed.
  enum class State { Passed, Failed, Stopped, Skipped };
  int socket = 0;
  State state = State::Passed;
  std::string words;  // "Verified OK", "Didn't Verify", "Stopped", "Skipped"
  std::optional<SocketFailure> failure;
  std::string image;  // the socket's own image, where it had one
  std::optional<std::uint64_t> serialNumber;
  // Program: where the last page sent to this socket's chip began; nothing when none was (a
  // chip refused before any pulse, or an operation stopped before its first page). The pages
  // go out from the device's start, so the chip was sent every page up to this one.
  std::optional<std::int32_t> lastPageSent;

  // "Verified OK", "Didn't Verify at 0x01A7F: expected 0x3C, read 0x38", "Stopped".
  std::string describe() const;
};

// What the last operation did: how far it got, how long it took and every socket's result
// (none for Move, which reads socket 1 and judges no socket).
struct OperationResult {
  std::string operation;  // "Verify Device"
  Operation kind = Operation::Program;
  bool stopped = false;  // Quit, the watchdog or a lost programmer ended it early
  // Why it ended early when the operator did not stop it, in the status log's words ("Device no
  // longer present ...", "The programmer's reply came incomplete ..."); empty otherwise.
  std::string stopReason;
  // False when a reply was not the answer to the command it followed (bytes of an earlier reply
  // left over, a read filled by late bytes): no socket of such an operation passes.
  bool repliesInStep = true;
  std::int64_t elapsedMs = 0;
  std::int32_t reached = 0;
  std::vector<SocketResult> sockets;

  bool allPassed() const;
};

// The five things the operator does to the devices in the sockets, each run to its end:
// Program, Blank Check, Verify, Move Device #1 and Program Compare.
class Operations {
 public:
  static constexpr const char* kNoDeviceText = "No Device Was Selected.";
  // After "Programmer lost at 2400" on the status line: what brings it back.
  static constexpr const char* kLostAdvice = ": check its cable, then click here";

  Operations(SessionHost& host, Link& link, ImageBuffer& image, const SocketImages& images,
             DeviceSettings& settings, Engine& engine, ControlStates& states)
      : host_(host),
        link_(link),
        image_(image),
        images_(images),
        settings_(settings),
        engine_(engine),
        states_(states) {}

  // Program sends the pulse width of the settings.
  void Program();
  void BlankCheck();
  void Verify();
  // Reads a socket into the image buffer: socket 1, as the button does, or the one named.
  void Move(int socket = 1);
  void ProgramCompare();
  // One operation (Move reads `socket`); while a stop is held, nothing is sent and the result
  // says every socket stopped.
  void run(Operation operation, int socket = 1);
  // An operation that was stopped before it began: nothing sent, every socket stopped.
  void notStarted(Operation operation);

  // The checksum of the address window recomputed and shown, then the idle state: the Check
  // Sum button's work, and how Move ends.
  void showChecksum();
  // Refuses (with the box) when no device type is chosen.
  bool deviceChosen();

  // The result of the last operation that ran.
  const OperationResult& lastResult() const { return lastResult_; }

  // The words of one operation: its name, the notes at its start and end, and what a socket that
  // passed (shown from the start) and one that failed are called.
  struct Texts {
    const char* name;  // the button's words, for the log
    const char* start;
    const char* passed;
    const char* failure;
    const char* end;
  };
  // A device byte `d` against the buffer byte `b`.
  using ByteTest = bool (*)(std::uint8_t d, std::uint8_t b);

 private:
  struct LoopEnd {
    bool interrupted;         // Quit, the watchdog or a lost programmer ended it early
    std::int32_t blockStart;  // where the last block began
  };
  // The block loop every reading operation shares: per block the address step, then a read of
  // every socket in play (or of `onlySocket` alone, when not 0), each byte handed to `takeByte`
  // with its address, until the device end, a stop, or no socket is left.
  template <typename ByteAction>
  LoopEnd readBlocks(int onlySocket, ByteAction&& takeByte);
  // `erasedWanted`: the test wants 0xFF whatever the buffer holds (Blank Check).
  void runReadTest(const Texts& texts, ByteTest passes, bool erasedWanted = false);
  void writeInitialSocketTexts(const Texts& texts);
  // A socket's result before any judgement: left out, or else stopped; its image named.
  SocketResult unjudged(int socket) const;
  // Reads the current socket's block; false when no complete reply came, so that nothing
  // stale in the read buffer is taken for the device's bytes.
  bool readBlock();
  // False (and the operation asked to stop) when the last wait got no complete reply.
  bool replyArrived();
  // Adds one to the quit flag once the device end is reached; true then.
  bool stepAddress(std::int32_t by);
  // The busy state that begins an operation, and whether its blocks may go out then: not while
  // a stop is held, nor when the programmer did not answer the busy state's idle command (the
  // operation then ends at once, stopped).
  void enterBusyState();
  bool blocksMayGo() const;
  // After a loop: true when Quit, the watchdog or a lost programmer ended it before the end.
  bool interrupted(bool reachedEnd) const;
  void showStopped(std::int32_t address, bool socketLabels = true);
  // The page of `image` from `start` into the program block packet.
  void copyPage(const ImageBuffer& image, std::int32_t start);
  void programPage();
  // The progress of the running operation; when it is over, its result, with its time and its
  // failing sockets in the log.
  void beginProgress(const char* operation);
  void showProgress(std::int64_t reached);
  void endProgress(std::int64_t reached, bool stopped, const Texts* texts);
  // The log's line for the run: its time, where it stopped, how many sockets failed and how
  // many were left out.
  std::string summaryLine() const;

  SessionHost& host_;
  Link& link_;
  ImageBuffer& image_;
  const SocketImages& images_;
  DeviceSettings& settings_;
  Engine& engine_;
  ControlStates& states_;
  std::uint8_t pulseWidth_ = 0;
  std::array<std::optional<std::int32_t>, kSockets> lastPageSent_{};  // of the running Program
  bool idleUnanswered_ = false;
  Progress progress_;
  std::int64_t startedMs_ = 0;
  OperationResult lastResult_;
};

}  // namespace tandra
