#include "cli/Job.h"
#include "cli/JobTable.h"

#include <algorithm>
#include <filesystem>

#include "cli/DeviceNames.h"
#include "cli/ImageFiles.h"
#include "cli/Record.h"
#include "common/FileError.h"
#include "common/HexText.h"
#include "common/InputFile.h"
#include "common/RunId.h"
#include "common/ShownName.h"
#include "common/TimeText.h"
#include "common/Version.h"
#include "image/BusWindow.h"
#include "image/Checksum.h"
#include "link/Clock.h"
#include "link/HardwareBackend.h"
#include "link/ReplayApi.h"
#include "link/Trace.h"
#include "link/TracingApi.h"
#include "production/ProductionLog.h"
#include "production/ProductionPlan.h"
#include "sim/VirtualProgrammer.h"

namespace tandra::cli {

namespace {

const char* signalName(int signal) {
  switch (signal) {
    case stopsignal::kHangUp:
      return "SIGHUP";
    case stopsignal::kInterrupt:
      return "SIGINT";
    case stopsignal::kBrokenPipe:
      return "SIGPIPE";
    case stopsignal::kTerminate:
      return "SIGTERM";
    default:
      return "signal";
  }
}

}  // namespace

Job::Job(const CliOptions& options, CliIo& io)
    : options_(options),
      kind_(jobKind(options.command)),
      io_(io),
      console_(io, options.quiet || options.json),
      host_(console_, io.errIsTerminal && !options.quiet && !options.verbose, io.stopSignal,
            io.clock),
      startedAt_(std::chrono::system_clock::now()) {
  startedMs_ = host_.monotonicMs();
  host_.verbose = options.verbose;
  document_ = record::blank(options, startedAt_);
  // An image written to standard output leaves no room there for the record.
  const bool imageToOut =
      (kind_.file == JobFile::Written && namesDescriptor(options.input, io.outputDescriptor)) ||
      (kind_.file == JobFile::Convert && namesDescriptor(options.output, io.outputDescriptor));
  if (imageToOut) console_.recordOnStandardError();
}

Job::~Job() = default;

int Job::run() {
  int code = exitcode::kPassed;
  try {
    startTrace();
    code = (this->*kind_.work)();
  } catch (const Stopped&) {
    code = stopCode();
  } catch (const JobError& error) {
    code = error.exitCode;
    fail(error.what());
  } catch (const FileError& error) {
    if (error.readerGone()) {
      // `convert ... - | head -c 100`: the reader had what it wanted, and the job stops as a
      // program stopped by SIGPIPE does.
      console_.readerWentAway();
      code = stopCode();
    } else {
      code = exitcode::kUsage;
      failOnFile(error);
    }
  } catch (const SettingError& error) {
    code = exitcode::kUsage;
    fail(error.what());
  } catch (const std::bad_alloc&) {
    code = exitcode::kProgrammer;
    fail("not enough memory for this job");
  } catch (const std::exception& error) {
    // Whatever else went wrong is told in its own words; the programmer is still idled.
    code = exitcode::kProgrammer;
    fail(std::string("unexpected error: ") + error.what());
  }
  closeProgrammer();
  reportReplay(code);
  reportAcceptance(code);
  finish(code);
  if (trace_ && !traceEnded_) trace_->fact("exit", std::to_string(code));
  return code;
}

void Job::failOnFile(const FileError& error) {
  std::string where = shownName(error.path());
  if (error.line() > 0)
    where += (where.empty() ? "line " : ", line ") + std::to_string(error.line());
  if (!error.notes().empty() && document_["input"].is_object()) {
    document_["input"]["notes"] = error.notes();
  }
  // What the load met before it stopped is told too: a pipe that went quiet explains a
  // record cut in half.
  if (!error.notes().empty() && !options_.json) console_.warn(error.notes());
  fail(boxText(error.what()) + (where.empty() ? "" : " (" + where + ")") +
       (error.hint().empty() ? "" : " " + error.hint()));
}

void Job::finish(int& code) {
  if (host_.stopAsked()) {
    code = stopCode();
    document_["stopped_by"] = signalName(code - exitcode::kSignalBase);
  }
  host_.endProgressLine();
  reportLostTrace(code);
  reportStatistics();
  const std::int64_t elapsed = host_.monotonicMs() - startedMs_;
  document_["elapsed_ms"] = elapsed;
  document_["exit_code"] = code;
  if (options_.json) {
    console_.record(record::text(document_));
  } else if (!kind_.valueOnly) {
    // The closing line, in every case. It is about the job, not its value: standard output
    // holds the results alone, so that $(tandra-cli checksum ...) is the checksum.
    console_.warn(options_.command + ": " + outcome(code) + " in " + durationText(elapsed) +
                  (virtualProgrammer_ != nullptr ? " on the virtual programmer" : ""));
  }
  // A record that could not be written is a job that failed, whatever it did to the chips;
  // a reader that went away is a stop like a signal.
  if (host_.stopAsked()) {
    code = stopCode();
  } else if (!console_.recordLost().empty()) {
    if (document_["error"] != console_.recordLost()) {
      console_.warn("tandra-cli: " + console_.recordLost());
    }
    code = exitcode::kUsage;
  }
}

void Job::reportLostTrace(int& code) {
  if (!trace_ || !trace_->lost()) return;
  // The record names no trace that was not written, and a job whose trace was lost failed as
  // one whose record or log was: the maintainer it was for would get nothing.
  const std::string message =
      "the trace could not be written: " + *trace_->lost() + " (" + shownName(tracePath_) + ")";
  document_["trace"] = nullptr;
  if (document_["error"].is_string()) {
    if (!options_.json) console_.warn("tandra-cli: " + message);
  } else {
    fail(message);
  }
  if (code == exitcode::kPassed || code == exitcode::kSocketFailed) code = exitcode::kUsage;
}

int Job::stopCode() const {
  const int signal = io_.stopSignal != nullptr ? io_.stopSignal->load() : 0;
  if (signal != 0) return exitcode::kSignalBase + signal;
  return exitcode::kSignalBase + stopsignal::kBrokenPipe;
}

void Job::fail(const std::string& message) {
  document_["error"] = message;
  if (trace_) trace_->log("tandra-cli: " + message);
  if (!options_.json) console_.warn("tandra-cli: " + message);
}

std::string Job::outcome(int code) const {
  if (host_.stopAsked()) return "interrupted";
  if (code != exitcode::kPassed && code != exitcode::kSocketFailed) {
    return "stopped (exit code " + std::to_string(code) + ")";
  }
  if (acceptance_) {
    return code == exitcode::kPassed ? "every step passed on every socket"
                                     : "a socket failed a step (the report says which)";
  }
  const RunStatistics::Tally& chips = statistics_.chips();
  const int judged = chips.passed + chips.failed + chips.stopped;
  if (judged == 0) return "done";
  // Over several sets the chips are counted, not the sockets they went through.
  const int sets = statistics_.setsDone() + statistics_.setsStopped();
  std::string text =
      std::to_string(chips.passed) + " of " + std::to_string(judged) +
      (sets > 1 ? " chips passed in " + std::to_string(sets) + " sets" : " sockets passed");
  if (chips.stopped > 0) text += ", " + std::to_string(chips.stopped) + " not judged";
  return text;
}

void Job::checkStop() {
  if (host_.stopIfAsked()) throw Stopped{};
}

void Job::say(const std::string& line) {
  if (!options_.json) console_.record(line);
}

const Chip& Job::deviceType() const {
  if (const Chip* type = findChip(options_.device)) return *type;
  throw JobError(exitcode::kUsage, "no device type '" + options_.device + "'; the nearest are " +
                                       nearestDeviceNames(options_.device) +
                                       " (tandra-cli devices lists them all)");
}

void Job::chooseDevice(const Chip& type) {
  // The programmer is not reached yet, so nothing is sent.
  type_ = &type;
  // A maker's name is taken for the listed type it prints the number of: said, with the
  // voltage that type is programmed at, so that a wrong match is caught before a chip is.
  if (!namesChipExactly(type, options_.device) && !options_.device.empty()) {
    console_.note(options_.device + " is taken for the " + std::string(type.name) + " (" +
                  std::string(voltsText(type.ratedVpp)) + " V)");
  }
  session_->select(type, options_.sockets);
  session_->leaveOut(options_.skippedSockets);
  document_["device"] = std::string(type.name);
  document_["sockets"] = options_.sockets;
  document_["skipped"] = nlohmann::json::array();
  for (int socket = 1; socket <= options_.sockets; ++socket) {
    if ((options_.skippedSockets >> (socket - 1) & 1) != 0) document_["skipped"].push_back(socket);
  }
}

void Job::connect() {
  Session& session = *session_;
  host_.updateFile.reset();
  if (!options_.updateFirmware.empty()) host_.updateFile = options_.updateFirmware;
  const std::size_t logFrom = host_.logged.size();
  session.connect(options_.serial);
  sayNotesSince(logFrom);
  if (session.connected() && session.firmwareVersionNumber() < Discovery::kLeastAcceptedVersion &&
      host_.updateFile) {
    // After an update the programmer is searched for again, as a click on the status line does.
    for (const std::string& message : host_.messages) console_.note(message);
    findAfterRestart();
  }
  if (!session.connected()) {
    if (dynamic_cast<NoDriver*>(driver_) != nullptr) {
      throw JobError(exitcode::kProgrammer, session.driverName());
    }
    const std::vector<Session::Attached> attached = session.attached();
    if (attached.empty()) throw JobError(exitcode::kProgrammer, "no programmer found");
    if (attached.size() > 1 && options_.serial.empty()) {
      throw JobError(exitcode::kProgrammer,
                     std::to_string(attached.size()) +
                         " programmers are attached: pick one with --serial (tandra-cli list "
                         "shows their serial numbers)");
    }
    if (options_.serial.empty())
      throw JobError(exitcode::kProgrammer, "the programmer does not answer");
    std::string serials;
    for (const Session::Attached& programmer : attached) {
      if (!programmer.serial.empty()) serials += (serials.empty() ? "" : ", ") + programmer.serial;
    }
    throw JobError(exitcode::kProgrammer,
                   "no programmer with serial " + options_.serial +
                       " answers; attached: " + (serials.empty() ? "none" : serials));
  }
  recordProgrammer();
  console_.note("programmer found through " + session.driverName() + ", firmware " +
                session.firmwareVersionText());
  if (session.firmwareVersionNumber() < Discovery::kLeastAcceptedVersion) {
    throw JobError(exitcode::kOldFirmware,
                   "the programmer's firmware " + session.firmwareVersionText() +
                       " is older than 1.20; update it with --update-firmware FILE");
  }
}

void Job::recordProgrammer() {
  // The serial number and description as the programmer's USB chip gives them: of the one
  // named with --serial, or else of the only one attached.
  std::string serial;
  std::string description;
  for (const Session::Attached& programmer : session_->attached()) {
    if (programmer.serial.empty()) continue;
    if (!options_.serial.empty() && programmer.serial != options_.serial) continue;
    serial = programmer.serial;
    description = programmer.description;
    break;
  }
  document_["programmer"] = {{"driver", session_->driverName()},
                             {"serial", serial},
                             {"description", description},
                             {"firmware", session_->firmwareVersionText()}};
}

void Job::applySettings() {
  if (options_.pulse) session_->setPulseWidth(*options_.pulse);
  if (options_.vpp.empty()) return;
  const int asked = options_.vpp == "25" ? 1 : options_.vpp == "21" ? 2 : 3;
  // Settings count down the voltage: 1 is 25 V, 3 is 12.5 V. More than the type is rated for
  // can destroy the chip.
  if (type_ != nullptr && asked < vppSetting(type_->ratedVpp) && !options_.force) {
    throw JobError(exitcode::kUsage, "the " + options_.device + " is programmed at " +
                                         std::string(voltsText(type_->ratedVpp)) + " V, not " +
                                         options_.vpp + " V (--force programs at " + options_.vpp +
                                         " V all the same)");
  }
  session_->setVpp(asked);
}

void Job::keepResult(const OperationResult& result) {
  host_.endProgressLine();
  // Stopped, and not from outside: the programmer stopped answering, or its replies fell out
  // of step with the commands. Why is said and recorded, not only shown with -v.
  if (result.stopped && !host_.stopAsked()) {
    linkLost_ = true;
    if (!result.stopReason.empty() && document_["error"].is_null()) {
      fail(result.operation + " stopped: " + result.stopReason);
    }
  }
  document_["pulse_width"] = session_->settings().pulseWidth;
  document_["vpp"] = std::string(voltsText(static_cast<RatedVpp>(session_->settings().vppSetting)));
  results_.push_back(result);
}

const OperationResult& Job::operate(const std::function<const OperationResult&()>& work) {
  checkStop();
  const OperationResult& result = work();
  keepResult(result);
  say(result.operation + " (" + durationText(result.elapsedMs) +
      (result.stopped ? ", stopped" : "") + ")");
  document_["operations"].push_back(record::operation(result, 1));
  if (!console_.recordLost().empty()) throw JobError(exitcode::kUsage, console_.recordLost());
  return result;
}

int Job::exitCodeFor(const OperationResult& result) const {
  if (host_.stopAsked()) return stopCode();
  if (linkLost_) return exitcode::kProgrammer;
  return result.allPassed() ? exitcode::kPassed : exitcode::kSocketFailed;
}

int Job::deviceWork() {
  const Chip& type = deviceType();
  checkStop();  // a job stopped before it began leaves the programmer alone
  openDriver(&type);
  chooseDevice(type);
  if (kind_.id == JobId::Read) return readSocket();
  const bool toChips = kind_.file == JobFile::ToChips;
  if (toChips) {
    if (!options_.input.empty()) {
      const LoadReport loaded = loadInput(options_.input);
      imageStanding_ = standingOf(loaded);
      refuseUncleanLoad(loaded, kind_.doneTo);
    }
    prepareSocketImages();
  }
  if (kind_.id == JobId::Program) numberChips();
  for (const Operation operation : promise().operations) {
    if (const std::optional<std::string> note = untestedNote(type, operation)) console_.warn(*note);
  }
  // The images, the serial numbers' stamp and the log are checked before any chip is touched,
  // and before the programmer is looked for; the numbers are taken as each set begins, so that
  // a run refused here or by the programmer spends none.
  run_.emplace(*session_, plan_, promise(), kind_.id == JobId::Program && !options_.noCheck);
  if (toChips) checkImages();
  openLog();
  checkStop();
  connect();
  run_->setProgrammer(document_["programmer"]["serial"].get<std::string>());
  checkStop();
  applySettings();
  return runSets();
}

int Job::readSocket() {
  checkStop();
  connect();
  checkStop();
  applySettings();
  // The socket into the buffer, then the buffer into the file.
  const int code = exitCodeFor(
      operate([this]() -> const OperationResult& { return session_->read(options_.readSocket); }));
  if (code != exitcode::kPassed) return code;
  recordImage(("socket " + std::to_string(options_.readSocket)).c_str(),
              std::int64_t{session_->image().deviceEndAddress} + 1);
  saveOutput(options_.input, options_.format, "--format");
  return code;
}

void Job::closeProgrammer() {
  // As the window's close: the idle command, then the device let go.
  if (!session_) return;
  try {
    session_->close();
    saveVirtualState();
  } catch (const std::exception& error) {
    fail(std::string("the programmer could not be let go: ") + error.what());
  }
}

}  // namespace tandra::cli
