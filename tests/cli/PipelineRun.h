#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "PipelineSoakLine.h"

namespace tandra::test {

using Bytes = std::vector<std::uint8_t>;

enum class Images { Shared, PerSocket, Split };
enum class Fault {
  None,
  LostReply,
  CutReply,
  PausedReply,
  CablePulled,
  Signal,
  OutputFails,
  LogFills
};
constexpr std::array<const char*, 8> kFaultNames = {"none",         "lost reply",   "cut reply",
                                                    "paused reply", "cable pulled", "signal",
                                                    "output fails", "log fills"};

// One run as drawn, and what came of it.
struct PipelineRun {
  std::uint64_t number = 0;
  std::string type;
  std::int32_t size = 0;
  int count = 1;
  int leftOut = 0;  // bit s-1: socket s left out with --sockets
  Images images = Images::Shared;
  int lanes = 0;
  std::array<Bytes, 6> expected;  // each socket's image, before its serial number
  bool serials = false;
  std::int32_t stampAt = 0;
  std::string stampFormat = "le";
  int stampBytes = 4;
  std::uint64_t firstSerial = 0;
  std::uint64_t serialStep = 1;
  bool reuseFailed = false;
  bool ledger = false;              // the numbers come from the soak's one ledger
  Trouble trouble = Trouble::None;  // ... and what befalls it before any chip is touched
  int setsWanted = 1;
  bool noCheck = false;
  bool noVerify = false;
  bool json = false;
  Fault fault = Fault::None;
  std::uint64_t faultAt = 0;  // the command the fault strikes at
  int signal = 0;
  std::size_t outputFailsAfter = 0;
  std::uint64_t logRoom = 0;
  bool faultStruck = false;
  std::vector<std::string> arguments;
  std::string logPath;
  std::uint64_t logFrom = 0;  // where this run's lines begin in its log

  // Each set's serial numbers as the prompt before it named them.
  std::map<int, std::vector<std::uint64_t>> announced;
  // (set, socket): the stamp's bytes of the chip as it was put in.
  std::map<std::pair<int, int>, Bytes> inserted;
  int races = 0;  // prompts at which another station took numbers

  int code = -1;
  std::string out;
  std::string err;
  std::map<std::pair<int, int>, Bytes> chips;  // (set, socket): the chip when its set ended
  int setsEnded = 0;

  bool inUse(int socket) const { return socket <= count && (leftOut >> (socket - 1) & 1) == 0; }
  std::string describe() const {
    std::string text = "run " + std::to_string(number) + ": program " + type + " x" +
                       std::to_string(count) + " sets " + std::to_string(setsWanted) + ", " +
                       kFaultNames[static_cast<std::size_t>(fault)] + " at " +
                       std::to_string(faultAt) + ", " + troubleName(trouble) + ";";
    for (const std::string& argument : arguments) text += " " + argument;
    return text;
  }
};

}  // namespace tandra::test
