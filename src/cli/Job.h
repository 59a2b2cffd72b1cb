#pragma once

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/Console.h"
#include "cli/ConsoleHost.h"
#include "cli/JobKind.h"
#include "device/Catalogue.h"
#include "device/Session.h"
#include "files/FileFormat.h"
#include "files/Loaders.h"
#include "production/Acceptance.h"
#include "production/ProductionPlan.h"
#include "production/ProductionRun.h"
#include "production/RunStatistics.h"

namespace tandra {
class FileError;
class ProductionLog;
class ReplayApi;
class Trace;
class TracingApi;
class VirtualProgrammer;
}  // namespace tandra

namespace tandra::cli {

// One run of the command-line program: a session on the programmer with a console in place of
// the window. It runs the session's typed calls, the same ones the window's handlers run, and
// reports what came of them: result lines as they are known, or one JSON record at the end.
class Job final : private ProductionRun::Observer {
 public:
  Job(const CliOptions& options, CliIo& io);
  ~Job();
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  // Runs the command and gives the exit code.
  int run();

  // The jobs' work, each named by its entry in kJobTable: the exit code, where no exception
  // ends the job first.
  int listProgrammers();
  int listDevices();
  int checksum();
  int convert();
  int serialLedger();
  int deviceWork();
  int doctor();
  int accept();

 private:
  // Thrown where a stop was asked for (a signal, a reader that went away): the job ends there,
  // as after Quit.
  struct Stopped {};

  // Production runs (Production.cpp): images of their own per socket, serial numbers, sets one
  // after another, and a log a line's database can follow.
  void prepareSocketImages();
  void giveSocketImage(const std::string& entry);
  // The serial numbers --sn-at and its options ask for, one for each chip of each set
  // (SerialOptions.cpp), counted by this run or taken from a ledger.
  void numberChips();
  std::unique_ptr<SerialSource> countedNumbers(SerialStamp& stamp) const;
  std::unique_ptr<SerialSource> ledgerNumbers(SerialStamp& stamp) const;
  // The next set's numbers reserved while the operator changes the chips, and given back when
  // the run ends there.
  void holdNumbers();
  void releaseNumbers();
  // The ledger as the run has left it, into the record.
  void recordLedger();
  void openLog();
  // Whether the sets can be made, taking no serial number; then each set's images as it begins.
  void checkImages();
  void imagesForSet();
  [[noreturn]] void refuseSet(const SetShortfall& shortfall) const;
  // Runs a check of the set: what it finds lacking refuses the set, a ledger it cannot trust is a
  // usage error.
  void judgeSet(const std::function<std::optional<SetShortfall>()>& check) const;
  ChipPromise promise() const;
  int runSets();
  int setCode(const SetOutcome& outcome) const;
  bool nextSet(const SetOutcome& outcome);
  std::string nextNumbersText() const;
  std::string socketLine(const SocketResult& socket) const;
  void reportUnlogged(const SetOutcome& outcome);
  void reportStatistics();
  std::uint8_t fillByte() const;
  // The format a word of `option` (--format, --out-format) asks for; a word that names none is
  // refused in that option's name.
  static std::optional<FileFormat> askedFormat(const std::string& word, const char* option);
  // What a set tells the job as it runs.
  bool mayGoOn() override;
  void operationEnded(const OperationResult& result) override;
  void chipJudged(int set, const ChipVerdict& verdict) override;
  // The virtual programmer's chips kept in a folder between runs (sim/VirtualState.h).
  void loadVirtualState();
  void saveVirtualState();

  // The steps of a job.
  const Chip& deviceType() const;
  void openDriver(const Chip* type);
  std::unique_ptr<FtApi> makeVirtualProgrammer();
  void fillVirtualSockets(const Chip& type);
  void chooseDevice(const Chip& type);
  LoadReport loadInput(const std::string& path);
  // Refuses to work with a file that did not load cleanly, unless --force says otherwise.
  // An unsigned decimal or hexadecimal number as typed for `option`, or the job refused.
  static std::uint64_t optionNumber(const std::string& option, const std::string& text, int base);
  void refuseUncleanLoad(const LoadReport& loaded, const char* work) const;
  ImageStanding standingOf(const LoadReport& loaded) const;
  int readSocket();
  void connect();
  // The programmer restarting after an update is looked for until it answers, for a while.
  void findAfterRestart();
  void recordProgrammer();
  void applySettings();
  // An operation's result kept for the record and the exit code, and why it stopped told.
  void keepResult(const OperationResult& result);
  const OperationResult& operate(const std::function<const OperationResult&()>& work);
  void saveOutput(const std::string& path, const std::string& formatWord, const char* option);
  // The image record of the buffer's first `size` bytes.
  void recordImage(const char* source, std::int64_t size);
  void closeProgrammer();
  void startTrace();
  // What a replay found: a difference from the trace, or commands it holds that were not sent.
  void reportReplay(int& code);
  // Where the sockets' verdicts differ from the trace's, operation by operation; empty when
  // they agree (or the trace holds none).
  std::string verdictDifference() const;
  // Ends the job here (throws Stopped) when a stop was asked for.
  void checkStop();
  int stopCode() const;
  int exitCodeFor(const OperationResult& result) const;
  // The closing line's words for how the job ended.
  std::string outcome(int code) const;
  // The error that ends the job, for the record and standard error.
  void fail(const std::string& message);
  // The same for a file that could not be read or written.
  void failOnFile(const FileError& error);
  void finish(int& code);
  void reportLostTrace(int& code);

  // What the operator is told: results in the record, notes and warnings on standard error.
  void say(const std::string& line);
  void sayNotesSince(std::size_t line);

  const CliOptions& options_;
  const JobKind& kind_;
  CliIo& io_;
  Console console_;
  ConsoleHost host_;
  std::chrono::system_clock::time_point startedAt_;
  std::int64_t startedMs_ = 0;
  std::unique_ptr<FtApi> ownDriver_;
  std::unique_ptr<ReplayApi> replay_;
  std::unique_ptr<Trace> trace_;
  std::string tracePath_;
  std::unique_ptr<TracingApi> tracer_;
  VirtualProgrammer* virtualProgrammer_ = nullptr;
  FtApi* driver_ = nullptr;
  std::unique_ptr<Session> session_;
  bool linkLost_ = false;
  std::vector<OperationResult> results_;
  const Chip* type_ = nullptr;
  ProductionPlan plan_;
  ImageStanding imageStanding_;  // what the chips' image came from
  std::optional<ProductionRun> run_;
  std::unique_ptr<ProductionLog> log_;
  std::vector<UnloggedChip> notLogged_;
  RunStatistics statistics_;
  int set_ = 1;
  std::int64_t splitExtent_ = 0;  // what the image of a split bus holds
  nlohmann::json document_;
  std::vector<std::string> driverProbes_;  // how the driver was chosen

  // tandra-cli doctor (Doctor.cpp): each finding is a check, OK or with what to do about it.
  using Check = std::function<void(const std::string& found, const std::string& toDo)>;
  void reportNoContact(Discovery::Outcome outcome, bool mayOpen, const Check& check);
  void judgeIdentify(const IdentifyProbe& probe, const Check& check);

  // tandra-cli accept (Accept.cpp): the acceptance run, and its report written once the
  // programmer is let go and the trace is ended.
  std::unique_ptr<AcceptanceRun> acceptance_;
  bool traceEnded_ = false;
  std::string acceptanceReportPath() const;
  void reportAcceptance(int& code);
};

}  // namespace tandra::cli
