#pragma once

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "device/Operations.h"

namespace tandra::cli {

enum class JobId {
  List,
  Devices,
  Doctor,
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

// What a job needs and what it does: one entry per job. The parser, the driver, the record's
// command names, the closing line and the promise each chip is judged by all follow it, so a new
// job is a new entry here and its work in Job.
struct JobKind {
  JobId id;
  std::string_view name;
  std::string_view does;  // its line in the help
  bool usesDriver;        // looks for a programmer (or is given one); the others open none
  bool needsType;         // -d is required
  bool takesSockets;      // -n and --sockets
  JobFile file;
  bool runsSets;   // production sets: a set's chips judged, logged and counted
  bool forChips;   // its image is for chips: an erased cell's 0xFF fills it
  bool valueOnly;  // standard output holds its value alone, and no closing line ends it
  std::optional<Operation> operation;  // the operation each set runs (Program: then Verify)
  const char* doneTo;                  // "the image is ... the chips": refused unclean loads say it
};

inline constexpr std::array<JobKind, 11> kJobTable{{
    {JobId::List, "list", "the programmers found: index, serial, description, firmware", true,
     false, false, JobFile::None, false, false, true, std::nullopt, ""},
    {JobId::Devices, "devices", "the device types: type, size, Vpp, pulse width", false, false,
     false, JobFile::None, false, false, true, std::nullopt, ""},
    {JobId::Doctor, "doctor",
     "the first-contact check: the programmer on the USB bus, its driver, its replies and a read "
     "of socket 1, each OK or what to do; writes a trace",
     true, false, false, JobFile::None, false, true, false, std::nullopt, ""},
    {JobId::Program, "program", "program sockets 1..n from the file, then verify them", true, true,
     true, JobFile::ToChips, true, true, false, Operation::Program, "programmed"},
    {JobId::Verify, "verify", "compare sockets 1..n with the file", true, true, true,
     JobFile::ToChips, true, true, false, Operation::Verify, "verified against"},
    {JobId::Blank, "blank", "check that sockets 1..n are erased", true, true, true, JobFile::None,
     true, true, false, Operation::BlankCheck, ""},
    {JobId::Compare, "compare", "program compare: can each socket still take the file?", true, true,
     true, JobFile::ToChips, true, true, false, Operation::ProgramCompare, "compared"},
    {JobId::Read, "read", "read a socket (1 unless --socket) into the file (- for standard output)",
     true, true, false, JobFile::Written, false, true, false, std::nullopt, ""},
    {JobId::Checksum, "checksum", "the 16-bit checksum the window shows for the file", false, true,
     false, JobFile::Read, false, false, false, std::nullopt, ""},
    {JobId::Convert, "convert", "load one format and save another, for one device type", false,
     true, false, JobFile::Convert, false, false, false, std::nullopt, ""},
    {JobId::Serial, "serial",
     "show a serial number ledger, start one (--sn-start), or list the numbers it reserved that no "
     "passed chip in a log holds (--log)",
     false, false, false, JobFile::None, false, false, true, std::nullopt, ""},
}};

// The entry of the job called `name`; nullptr for no job of that name.
constexpr const JobKind* findJob(std::string_view name) {
  for (const JobKind& kind : kJobTable) {
    if (kind.name == name) return &kind;
  }
  return nullptr;
}

// The entry of a job the parser has accepted.
inline const JobKind& jobKind(std::string_view name) {
  if (const JobKind* kind = findJob(name)) return *kind;
  throw std::invalid_argument("no job '" + std::string(name) + "'");
}

}  // namespace tandra::cli
