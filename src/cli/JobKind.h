#pragma once

#include <optional>
#include <string_view>

#include "device/Operations.h"

namespace tandra::cli {

class Job;

// The jobs whose work differs from their kind's in a detail (Program numbers chips, Read fills
// a file, Doctor writes a trace unasked).
enum class JobId {
  List,
  Devices,
  Doctor,
  Accept,
  Program,
  Verify,
  Blank,
  Compare,
  Read,
  Checksum,
  Convert,
  Serial
};

// The image file a job takes from its command line.
enum class JobFile {
  None,
  Read,     // read and worked on (checksum)
  Written,  // the chip's bytes go into it (read)
  ToChips,  // its image goes to the chips (program, verify, compare); --socket-image may stand in
  Convert,  // one read, one written
};

// The options every job's command line knows, in groups: a job's entry names the groups it
// uses, and an option of another group is refused for it. -v, --json and --quiet are every
// job's.
namespace takes {
inline constexpr unsigned kFormat = 1U << 0;      // --format: its file's format
inline constexpr unsigned kOutFormat = 1U << 1;   // --out-format: the file it writes
inline constexpr unsigned kFill = 1U << 2;        // --fill: the byte for what an image leaves unset
inline constexpr unsigned kProgrammer = 1U << 3;  // --driver, --virtual…, --full-waits, --trace,
                                                  // --replay: it looks for a programmer
inline constexpr unsigned kSerial = 1U << 4;      // --serial: it works with one programmer
inline constexpr unsigned kChipSettings = 1U << 5;  // --pulse, --vpp, --update-firmware: it sets
                                                    // the programmer up for the chips
}  // namespace takes

// What a job needs and what it does: one entry per job. The parser, the driver, the record's
// command names, the closing line and the promise each chip is judged by all follow it, so a new
// job is a new entry in kJobTable and its work in Job.
struct JobKind {
  JobId id;
  std::string_view name;
  std::string_view does;      // its line in the help
  int (Job::*work)();         // what it does, giving the exit code
  unsigned options = 0;       // the `takes::` groups of options it uses
  bool needsType = false;     // -d is required
  bool takesSockets = false;  // -n and --sockets
  JobFile file = JobFile::None;
  bool runsSets = false;   // production sets: a set's chips judged, logged and counted
  bool forChips = false;   // its image is for chips: an erased cell's 0xFF fills it
  bool valueOnly = false;  // standard output holds its value alone, and no closing line ends it
  std::optional<Operation> operation = std::nullopt;  // what each set runs (Program: then Verify)
  const char* doneTo = "";  // "the image is ... the chips": refused unclean loads say it

  // It looks for a programmer (or is given one); the others open none.
  constexpr bool usesDriver() const { return (options & takes::kProgrammer) != 0; }
  constexpr bool uses(unsigned group) const { return (options & group) != 0; }
};

}  // namespace tandra::cli
