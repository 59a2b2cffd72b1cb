#pragma once

#include <atomic>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tandra {
class FtApi;
}

namespace tandra::cli {

// What a script reads from the exit code.
namespace exitcode {
inline constexpr int kPassed = 0;         // every socket passed (or the job needed none)
inline constexpr int kSocketFailed = 1;   // at least one socket failed
inline constexpr int kUsage = 2;          // a wrong word on the command line, or a bad file
inline constexpr int kProgrammer = 3;     // no programmer, several without --serial, link lost
inline constexpr int kOldFirmware = 4;    // the programmer's firmware is older than 1.20
inline constexpr int kInterrupted = 130;  // Ctrl-C
}  // namespace exitcode

// A job that cannot go on: the message for the operator and the exit code it ends with.
struct JobError : std::runtime_error {
  JobError(int code, const std::string& message) : std::runtime_error(message), exitCode(code) {}
  int exitCode;
};

// Everything the command line says.
struct CliOptions {
  std::string command;
  std::string device;
  int sockets = 1;
  std::string input;   // the image file read (or, for `read`, written)
  std::string output;  // `convert`'s second file
  std::string format = "auto";
  std::string outFormat = "auto";
  std::optional<int> pulse;
  std::string vpp;
  bool virtualProgrammer = false;
  std::vector<std::string> virtualChips;
  std::string driver;
  std::string serial;
  bool json = false;
  bool quiet = false;
  bool noVerify = false;
  bool force = false;
  std::string updateFirmware;
};

// Where the program talks, and what it is given from outside.
struct CliIo {
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  const std::atomic<bool>* interrupted = nullptr;  // set by Ctrl-C
  FtApi* driver = nullptr;  // a driver to use whatever the options say (tests)
};

// Runs one command line (without the program name) and gives its exit code.
int runCli(const std::vector<std::string>& arguments, CliIo& io);

}  // namespace tandra::cli
