#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "device/Operations.h"

namespace tandra {

class ImageBuffer;
class Session;

// The sequence a type is proven by on a real programmer, on every socket in use: a blank check
// of erased chips, a test pattern programmed, verified, read back from each socket and
// compared, and a Program Compare of the programmed chips, which must still take it.
enum class AcceptanceStep { BlankCheck, Program, Verify, ReadBack, ProgramCompare };

inline constexpr std::array kAcceptanceSteps{AcceptanceStep::BlankCheck, AcceptanceStep::Program,
                                             AcceptanceStep::Verify, AcceptanceStep::ReadBack,
                                             AcceptanceStep::ProgramCompare};

// "blank check", "program", "verify", "read back", "program compare".
std::string_view acceptanceStepName(AcceptanceStep step);

// The test pattern's byte at `address`: the address's three bytes XORed, so that two addresses
// one address line apart always differ, and a line that is open, stuck or shorted to another
// shows as a wrong byte.
constexpr std::uint8_t acceptancePatternByte(std::int32_t address) {
  return static_cast<std::uint8_t>(address ^ (address >> 8) ^ (address >> 16));
}

// The test pattern over the image's address window.
void putAcceptancePattern(ImageBuffer& image);

// What one step found in one socket: "passed", "failed", "skipped" (left out) or "not judged"
// (the step stopped, or a reply was out of step), and the socket's words.
struct AcceptanceSocket {
  int socket = 0;
  std::string result;
  std::string text;

  bool passed() const { return result == "passed"; }
};

struct AcceptanceResult {
  AcceptanceStep step = AcceptanceStep::BlankCheck;
  std::vector<AcceptanceSocket> sockets;
  std::string stopReason;  // why the step ended early, where it did

  bool passed() const;
};

// Runs the sequence on a session whose type and sockets are chosen and whose programmer answers.
// Each operation goes through `operate`, the front end's way of running one (its record, its
// progress, its stop), which gives the operation's result.
class AcceptanceRun {
 public:
  using Work = std::function<const OperationResult&()>;
  using Operate = std::function<const OperationResult&(const Work&)>;

  AcceptanceRun(Session& session, Operate operate);

  // Every step in order, each on every socket in use whatever the one before found.
  void runAll();
  const std::vector<AcceptanceResult>& results() const { return results_; }
  // Every step ran and every socket in use passed each.
  bool passed() const;
  // A step ended early: the programmer stopped answering, or was stopped.
  bool stopped() const;

 private:
  AcceptanceResult judged(AcceptanceStep step, const OperationResult& result) const;
  AcceptanceResult readBack();
  AcceptanceSocket compared(int socket, const OperationResult& read) const;

  Session& session_;
  Operate operate_;
  std::vector<AcceptanceResult> results_;
};

}  // namespace tandra
