#pragma once

#include <atomic>
#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tandra {
class Clock;
class FtApi;
}  // namespace tandra

namespace tandra::cli {

// What a script reads from the exit code.
namespace exitcode {
inline constexpr int kPassed = 0;        // every socket passed (or the job needed none)
inline constexpr int kSocketFailed = 1;  // at least one socket failed
inline constexpr int kUsage = 2;         // a wrong word, a bad file, or a record that was lost
inline constexpr int kProgrammer = 3;    // no programmer, several without --serial, link lost
inline constexpr int kOldFirmware = 4;   // the programmer's firmware is older than 1.20
// A stop from outside: 128 and the signal's number, as a shell reports a process it killed
// (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP, 141 a reader that went away).
inline constexpr int kSignalBase = 128;
inline constexpr int kInterrupted = 130;
}  // namespace exitcode

// Signal numbers as POSIX gives them, also where the system names no such signal.
namespace stopsignal {
inline constexpr int kHangUp = 1;
inline constexpr int kInterrupt = 2;
inline constexpr int kBrokenPipe = 13;
inline constexpr int kTerminate = 15;
}  // namespace stopsignal

// A job that cannot go on: the message for the operator and the exit code it ends with.
struct JobError : std::runtime_error {
  JobError(int code, const std::string& message) : std::runtime_error(message), exitCode(code) {}
  int exitCode;
};

// Everything the command line says.
struct CliOptions {
  std::vector<std::string> arguments;  // as given, for the record
  std::string command;
  std::string device;
  int sockets = 1;
  int skippedSockets = 0;  // the sockets below the highest chosen that --sockets leaves out
  int readSocket = 1;      // the socket read reads
  std::string input;       // the image file read (or, for `read`, written); "-" standard input
  std::string output;      // `convert`'s second file; "-" standard output
  std::string format = "auto";
  std::string outFormat = "auto";
  std::optional<int> pulse;
  std::string vpp;
  bool virtualProgrammer = false;
  std::string virtualFirmware;  // the virtual programmer's firmware version, MAJOR.MINOR
  bool fullWaits = false;
  std::vector<std::string> virtualChips;
  std::string driver;
  std::string serial;
  bool json = false;
  bool quiet = false;
  bool verbose = false;  // the status log on standard error as it is written
  std::string trace;     // a trace of what passed to and from the programmer
  std::string replay;    // a trace to answer as the programmer
  bool noVerify = false;
  bool force = false;
  std::string updateFirmware;
  std::string report;  // accept: the report's file

  // Production runs.
  std::vector<std::string> socketImages;  // "S=FILE": socket S gets an image of its own
  int split = 0;                          // 2 or 4: the image's lanes, one a socket
  std::string serialAt;                   // where each chip's serial number goes
  std::string serialStart;
  std::string serialStep;          // 1 when not given
  std::string serialFormat;        // le when not given
  std::optional<int> serialWidth;  // the format's own when not given
  bool serialReuseFailed = false;
  std::string serialLedger;        // the ledger the numbers come from
  std::string serialPer = "chip";  // "chip", or "board": one number per board of a split image
  std::string logFormat = "json";
  bool repeat = false;
  std::string log;
  bool noCheck = false;
  std::optional<std::string> fill;
  std::string virtualState;
};

// Where the program talks, and what it is given from outside.
struct CliIo {
  CliIo(std::ostream& outStream, std::ostream& errStream) : out(outStream), err(errStream) {}

  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  // The signal that asked the job to stop (SIGINT, SIGTERM, SIGHUP); 0 while none has.
  const std::atomic<int>* stopSignal = nullptr;
  FtApi* driver = nullptr;  // a driver to use whatever the options say (tests)
  Clock* clock = nullptr;   // the time the job waits on; nullptr: the computer's (tests)
  // Why the last write to `out` or `err` failed, as an errno value, where the stream can tell
  // (0 when it cannot); a reader that went away (EPIPE) stops the job as a signal does.
  std::function<int()> outError;
  std::function<int()> errError;
  // Standard input and output as files, for the name "-": their descriptors.
  int inputDescriptor = 0;
  int outputDescriptor = 1;
};

// Runs one command line (without the program name) and gives its exit code.
int runCli(const std::vector<std::string>& arguments, CliIo& io);

}  // namespace tandra::cli
