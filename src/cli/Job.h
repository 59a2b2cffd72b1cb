#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/Cli.h"
#include "cli/ConsoleHost.h"
#include "device/Catalogue.h"
#include "device/Workbench.h"
#include "files/Loaders.h"

namespace tandra {
class VirtualProgrammer;
}

namespace tandra::cli {

// One run of the command-line program: the window's core with a console in place of the
// window. Every device operation is the window's own handler; this class only chooses what
// the operator would have clicked, and reports what came of it.
class Job {
 public:
  Job(const CliOptions& options, CliIo& io);
  ~Job();
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  // Runs the command and gives the exit code.
  int run();

 private:
  int runCommand();
  void listProgrammers();
  void listDevices();
  void checksum();
  void convert();
  int deviceWork();

  // The steps of a job, in the order the window's operator takes them.
  const DeviceType& deviceType() const;
  void openDriver(const DeviceType* type);
  void chooseDevice(const DeviceType& type);
  LoadReport loadInput(const std::string& path, const std::string& formatWord);
  void connect();
  void applySettings();
  const OperationResult& operate(void (Operations::*click)());
  void closeProgrammer();
  int exitCodeFor(const OperationResult& result) const;
  // The closing line's words for how the job ended.
  std::string outcome(int code) const;

  // What the operator is told: results on standard output (or in the JSON document), notes and
  // errors on standard error.
  void say(const std::string& line);
  void note(const std::string& line);
  void report(const OperationResult& result);
  void sayDiscoveryNotes();

  const CliOptions& options_;
  CliIo& io_;
  std::int64_t startedMs_;
  std::unique_ptr<FtApi> ownDriver_;
  VirtualProgrammer* virtualProgrammer_ = nullptr;
  FtApi* driver_ = nullptr;
  ConsoleHost host_;
  std::unique_ptr<Workbench> bench_;
  bool linkLost_ = false;
  nlohmann::json document_;
};

}  // namespace tandra::cli
