#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>

#include "cli/Job.h"
#include "cli/JobKind.h"

namespace tandra::cli {

namespace detail {
// What a job that works on the chips in its sockets uses.
inline constexpr unsigned kOnChips = takes::kProgrammer | takes::kSerial | takes::kChipSettings;
}  // namespace detail

// Every job, in the order the help lists them.
inline constexpr auto kJobTable = std::to_array<JobKind>({
    {.id = JobId::List,
     .name = "list",
     .does = "the programmers found: index, serial, description, firmware",
     .work = &Job::listProgrammers,
     .options = takes::kProgrammer,
     .valueOnly = true},
    {.id = JobId::Devices,
     .name = "devices",
     .does = "the device types: type, size, Vpp, pulse width",
     .work = &Job::listDevices,
     .valueOnly = true},
    {.id = JobId::Doctor,
     .name = "doctor",
     .does = "the first-contact check: the programmer on the USB bus, its driver, its replies and "
             "a read of socket 1, each OK or what to do; writes a trace",
     .work = &Job::doctor,
     .options = takes::kProgrammer | takes::kSerial,
     .forChips = true},
    {.id = JobId::Accept,
     .name = "accept",
     .does = "the acceptance run that proves a type on a programmer: blank check, a test pattern "
             "programmed, verified, read back from every socket and compared, program compare; "
             "writes a trace and a report (--report) to attach when the type is marked tested",
     .work = &Job::accept,
     .options = detail::kOnChips,
     .needsType = true,
     .takesSockets = true,
     .forChips = true},
    {.id = JobId::Program,
     .name = "program",
     .does = "program sockets 1..n from the file, then verify them",
     .work = &Job::deviceWork,
     .options = detail::kOnChips | takes::kFormat | takes::kFill,
     .needsType = true,
     .takesSockets = true,
     .file = JobFile::ToChips,
     .runsSets = true,
     .forChips = true,
     .operation = Operation::Program,
     .doneTo = "programmed"},
    {.id = JobId::Verify,
     .name = "verify",
     .does = "compare sockets 1..n with the file",
     .work = &Job::deviceWork,
     .options = detail::kOnChips | takes::kFormat | takes::kFill,
     .needsType = true,
     .takesSockets = true,
     .file = JobFile::ToChips,
     .runsSets = true,
     .forChips = true,
     .operation = Operation::Verify,
     .doneTo = "verified against"},
    {.id = JobId::Blank,
     .name = "blank",
     .does = "check that sockets 1..n are erased",
     .work = &Job::deviceWork,
     .options = detail::kOnChips,
     .needsType = true,
     .takesSockets = true,
     .runsSets = true,
     .forChips = true,
     .operation = Operation::BlankCheck},
    {.id = JobId::Compare,
     .name = "compare",
     .does = "program compare: can each socket still take the file?",
     .work = &Job::deviceWork,
     .options = detail::kOnChips | takes::kFormat | takes::kFill,
     .needsType = true,
     .takesSockets = true,
     .file = JobFile::ToChips,
     .runsSets = true,
     .forChips = true,
     .operation = Operation::ProgramCompare,
     .doneTo = "compared"},
    {.id = JobId::Read,
     .name = "read",
     .does = "read a socket (1 unless --socket) into the file (- for standard output)",
     .work = &Job::deviceWork,
     .options = detail::kOnChips | takes::kFormat,
     .needsType = true,
     .file = JobFile::Written,
     .forChips = true},
    {.id = JobId::Checksum,
     .name = "checksum",
     .does = "the 16-bit checksum the window shows for the file",
     .work = &Job::checksum,
     .options = takes::kFormat | takes::kFill,
     .needsType = true,
     .file = JobFile::Read},
    {.id = JobId::Convert,
     .name = "convert",
     .does = "load one format and save another, for one device type",
     .work = &Job::convert,
     .options = takes::kFormat | takes::kOutFormat | takes::kFill,
     .needsType = true,
     .file = JobFile::Convert},
    {.id = JobId::Serial,
     .name = "serial",
     .does = "show a serial number ledger, start one (--sn-start), or list the numbers it "
             "reserved that no passed chip in a log holds (--log)",
     .work = &Job::serialLedger,
     .valueOnly = true},
});

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
