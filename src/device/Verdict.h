#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/Operations.h"

namespace tandra {

// Where the image a chip is judged against came from.
struct ImageStanding {
  // Whether the job judges its chips against an image at all (a Blank Check does not).
  bool needed = true;
  // The bytes the load set; a load that set none gives the chips nothing to hold.
  std::int64_t bytesSet = 1;
  // What the load met (bytes past the device, wrong checksums, a cut pipe); empty when clean.
  std::string notes;
  // The operator saw the notes and chose to go on (--force).
  bool notesAccepted = false;
  // The addresses the load set, as runs [first, end), lowest first; nothing where that is not
  // known (an image edited by hand), and a byte then counts as set when it is not the fill.
  std::optional<std::vector<std::pair<std::int64_t, std::int64_t>>> stored = std::nullopt;
};

// What a job promises of every chip it judges.
struct ChipPromise {
  ImageStanding image;
  // An option that shapes a chip's image and was not honoured as given; empty when all were.
  std::string optionNotHonoured;
  // The operations that must all run to their end, in order: Program and Verify for a chip
  // that is to be programmed, the one read test otherwise.
  std::vector<Operation> operations;
  // Each chip's line is to go into a production log.
  bool logWanted = false;

  // The promise of one operation run on its own, as the window's buttons run them.
  static ChipPromise of(Operation operation);
};

// Why a chip did not pass.
enum class Shortfall {
  None,
  LeftOut,            // the socket was left out of the job: neither passed nor failed
  ChipFailed,         // an operation found the chip wrong
  Stopped,            // an operation was cut short: the chip was not judged whole
  OutOfStep,          // a reply did not answer its command: nothing read can be trusted
  NotRun,             // an operation the job promised never ran
  ImageEmpty,         // the image's load set no byte
  ImageNotClean,      // the image's load met faults that the operator did not accept
  OptionNotHonoured,  // an option that shapes the image was not honoured
  NotLogged,          // its production log line could not be written
};

// What one chip's job came to.
struct ChipVerdict {
  // The result that decides, with its state and words as the rule judged them.
  SocketResult result;
  Shortfall shortfall = Shortfall::None;

  bool passed() const { return shortfall == Shortfall::None; }
  // Left out, or never touched by an operation that could change or judge it whole.
  bool counted() const { return shortfall != Shortfall::LeftOut; }
};

// The rule that says a chip passed: it holds the image it was given, once. A chip passes only
// when its image came from a clean load that set at least one byte (or the job needs none),
// every option that shapes the image was honoured, every operation the job promised ran to its
// end with every reply in step with its command and found the chip good, and, where a log is
// kept, its line was written. Otherwise the verdict says which of these fell short. nullopt
// for a socket no operation had.
std::optional<ChipVerdict> judgeChip(const ChipPromise& promise,
                                     const std::vector<OperationResult>& operations, int socket,
                                     bool logWritten = true);

// Why an image cannot give a chip a pass, before any chip is touched; nothing when it can.
std::optional<std::string> imageShortfall(const ImageStanding& image);

// The chips of one set of operations: every socket judged by the rule. A socket left out held
// no chip of the job; a chip whose operations were stopped before they could judge it is
// neither passed nor failed.
struct ChipCount {
  int passed = 0;
  int failed = 0;
  int stopped = 0;

  int judged() const { return passed + failed; }
  ChipCount& operator+=(const ChipCount& other);
};
ChipCount countChips(const ChipPromise& promise, const std::vector<OperationResult>& operations);
void countChip(ChipCount& count, const ChipVerdict& verdict);

}  // namespace tandra
