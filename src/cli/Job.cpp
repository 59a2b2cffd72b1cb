#include "cli/Job.h"

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

namespace {}  // namespace

std::optional<FileFormat> Job::askedFormat(const std::string& word) {
  bool valid = true;
  const std::optional<FileFormat> format = parseFormat(word, &valid);
  if (!valid) {
    throw JobError(exitcode::kUsage,
                   "--format takes bin, intel, srec, ascii or auto, not '" + word + "'");
  }
  return format;
}

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

bool readsImage(const std::string& command) {
  return command == "program" || command == "verify" || command == "compare";
}

}  // namespace

Job::Job(const CliOptions& options, CliIo& io)
    : options_(options),
      io_(io),
      console_(io, options.quiet || options.json),
      host_(console_, io.errIsTerminal && !options.quiet && !options.verbose, io.stopSignal,
            io.clock),
      startedAt_(std::chrono::system_clock::now()) {
  startedMs_ = host_.monotonicMs();
  statistics_ = RunStatistics(options.serialReuseFailed);
  host_.verbose = options.verbose;
  document_ = record::blank(options, startedAt_);
  // An image written to standard output leaves no room there for the record.
  const bool imageToOut =
      (options.command == "read" && namesDescriptor(options.input, io.outputDescriptor)) ||
      (options.command == "convert" && namesDescriptor(options.output, io.outputDescriptor));
  if (imageToOut) console_.recordOnStandardError();
}

Job::~Job() = default;

int Job::run() {
  int code = exitcode::kPassed;
  try {
    startTrace();
    code = runCommand();
  } catch (const Stopped&) {
    code = stopCode();
  } catch (const JobError& error) {
    code = error.exitCode;
    fail(error.what());
  } catch (const FileError& error) {
    code = exitcode::kUsage;
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
  finish(code);
  if (trace_) trace_->fact("exit", std::to_string(code));
  return code;
}

void Job::finish(int& code) {
  if (host_.stopAsked()) {
    code = stopCode();
    document_["stopped_by"] = signalName(code - exitcode::kSignalBase);
  }
  host_.endProgressLine();
  reportStatistics();
  const std::int64_t elapsed = host_.monotonicMs() - startedMs_;
  document_["elapsed_ms"] = elapsed;
  document_["exit_code"] = code;
  if (options_.json) {
    console_.record(record::text(document_));
  } else if (options_.command != "list" && options_.command != "devices" &&
             options_.command != "serial") {
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

int Job::runCommand() {
  // The jobs that need no programmer end well unless they throw.
  const std::string& command = options_.command;
  if (command == "list") {
    listProgrammers();
  } else if (command == "devices") {
    listDevices();
  } else if (command == "checksum") {
    checksum();
  } else if (command == "convert") {
    convert();
  } else if (command == "serial") {
    serialLedger();
  } else if (command == "doctor") {
    return doctor();
  } else {
    return deviceWork();
  }
  return exitcode::kPassed;
}

void Job::say(const std::string& line) {
  if (!options_.json) console_.record(line);
}

const DeviceType& Job::deviceType() const {
  if (const DeviceType* type = findDeviceType(options_.device)) return *type;
  throw JobError(exitcode::kUsage, "no device type '" + options_.device + "'; the nearest are " +
                                       nearestDeviceNames(options_.device) +
                                       " (tandra-cli devices lists them all)");
}

void Job::openDriver(const DeviceType* type) {
  const std::optional<DriverChoice> named = parseDriverChoice(options_.driver);
  const bool wantsVirtual = options_.virtualProgrammer || !options_.virtualChips.empty() ||
                            !options_.virtualFirmware.empty() || named == DriverChoice::Virtual;
  if (wantsVirtual && named && named != DriverChoice::Virtual) {
    throw JobError(exitcode::kUsage, "--virtual and --driver " + options_.driver +
                                         " name two different programmers: give one of them");
  }
  if (!options_.replay.empty() && (wantsVirtual || named)) {
    throw JobError(exitcode::kUsage,
                   "--replay answers as the traced programmer did: it takes "
                   "no --virtual and no --driver");
  }
  if (io_.driver != nullptr) {
    driver_ = io_.driver;
  } else if (!options_.replay.empty()) {
    replay_ = std::make_unique<ReplayApi>(ReplayApi::load(options_.replay));
    driver_ = replay_.get();
  } else if (wantsVirtual) {
    ownDriver_ = makeVirtualProgrammer();
  } else if (options_.command == "checksum" || options_.command == "convert" ||
             options_.command == "devices" || options_.command == "serial") {
    ownDriver_ = std::make_unique<NoDriver>("no programmer needed");
  } else {
    // The drivers are tried before the trace can watch them: what each showed goes in as facts.
    std::vector<std::string> probes;
    ownDriver_ = chooseDriver(named.value_or(DriverChoice::Automatic), hardwareDrivers(), &probes);
    for (const std::string& probe : probes) {
      if (trace_) trace_->fact("driver-probe", probe);
    }
    driverProbes_ = probes;
  }
  if (driver_ == nullptr) driver_ = ownDriver_.get();
  if (trace_) {
    tracer_ = std::make_unique<TracingApi>(*driver_, *trace_);
    driver_ = tracer_.get();
  }
  session_ = std::make_unique<Session>(*driver_, host_);
  session_->setFullWaits(options_.fullWaits);
  session_->setTrace(trace_.get());
  host_.attach(*session_);
  if (virtualProgrammer_ != nullptr && type != nullptr) fillVirtualSockets(*type);
  loadVirtualState();
}

std::unique_ptr<FtApi> Job::makeVirtualProgrammer() {
  std::optional<std::pair<int, int>> version;
  if (!options_.virtualFirmware.empty()) {
    version = VirtualProgrammer::parseFirmwareVersion(options_.virtualFirmware);
    if (!version) {
      throw JobError(exitcode::kUsage,
                     "--virtual-firmware wants MAJOR.MINOR, each 0 to 255, "
                     "e.g. 1.10, not '" +
                         options_.virtualFirmware + "'");
    }
  }
  auto programmer = VirtualProgrammer::standIn(version);
  virtualProgrammer_ = programmer.get();
  return programmer;
}

void Job::startTrace() {
  std::string path = options_.trace;
  // The first-contact check keeps a trace unless told where: it is what a maintainer asks for.
  if (path.empty() && options_.command == "doctor") path = "tandra-doctor-" + runId() + ".trace";
  if (path.empty()) return;
  trace_ = Trace::create(path);
  trace_->startFacts(std::string("tandra-cli ") + kVersion);
  for (const std::string& argument : options_.arguments) trace_->fact("argument", argument);
  host_.trace = trace_.get();
  document_["trace"] = path;
}

void Job::reportReplay(int& code) {
  if (!replay_) return;
  std::string problem;
  if (replay_->difference()) {
    problem = replay_->difference()->describe();
  } else if (replay_->commandsLeft() > 0) {
    problem = "the trace holds " + std::to_string(replay_->commandsLeft()) +
              " more commands than the job sent";
  }
  if (problem.empty()) problem = verdictDifference();
  // A replay serves the trace's bytes without their timing.
  if (replay_->endedOnTime()) {
    console_.note("the traced run ended waits on time (a quiet line, a time-out, replies out of "
                  "step): its replay serves the bytes without their timing, so it cannot show a "
                  "fault of timing");
  }
  document_["replay"] = {{"file", options_.replay},
                         {"matched", problem.empty()},
                         {"difference", problem.empty() ? nlohmann::json(nullptr) : nlohmann::json(problem)}};
  if (problem.empty()) return;
  fail("replay: " + problem);
  code = std::max(code, exitcode::kProgrammer);
}

void Job::fillVirtualSockets(const DeviceType& type) {
  // The virtual programmer's sockets hold chips of the chosen type, blank or from files.
  if (options_.virtualChips.size() > VirtualProgrammer::kSockets) {
    throw JobError(exitcode::kUsage, "the programmer has five sockets, not " +
                                         std::to_string(options_.virtualChips.size()));
  }
  const std::string chipName(type.name);
  for (int socket = 1; socket <= VirtualProgrammer::kSockets; ++socket) {
    Eprom& chip = virtualProgrammer_->insertChip(socket, chipName);
    if (socket > static_cast<int>(options_.virtualChips.size())) continue;
    const std::string& path = options_.virtualChips[static_cast<std::size_t>(socket - 1)];
    ImageBuffer contents;
    contents.deviceEndAddress = type.endAddress;
    fillBuffer(contents, 0xFF);
    // A chip's file is read in its own format, whatever --format says of the job's file.
    InputFile file = openInput(path, io_.inputDescriptor);
    loadImage(contents, file, path, inputFormat(file, path, std::nullopt).format);
    std::copy(contents.data(), contents.data() + chip.size(), chip.cells().begin());
  }
}

void Job::chooseDevice(const DeviceType& type) {
  // The programmer is not reached yet, so nothing is sent.
  type_ = &type;
  session_->select(type, options_.sockets);
  session_->leaveOut(options_.skippedSockets);
  document_["device"] = std::string(type.name);
  document_["sockets"] = options_.sockets;
  document_["skipped"] = nlohmann::json::array();
  for (int socket = 1; socket <= options_.sockets; ++socket) {
    if ((options_.skippedSockets >> (socket - 1) & 1) != 0) document_["skipped"].push_back(socket);
  }
}

LoadReport Job::loadInput(const std::string& path) {
  InputFile file = openInput(path, io_.inputDescriptor);
  const FormatChoice format = inputFormat(file, path, askedFormat(options_.format));
  console_.note("reading " + shownName(path) + " as " + std::string(formatWord(format.format)) +
                " (" + format.how + ")");
  std::error_code ignored;
  const std::string absolute =
      isStandardStream(path) ? path : std::filesystem::absolute(path, ignored).string();
  document_["input"] = {
      {"format", formatWord(format.format)}, {"format_chosen", format.how}, {"notes", nullptr}};
  record::putPath(document_["input"], absolute);
  // What the file does not set is the fill byte: an erased cell's 0xFF for the chips.
  ImageBuffer& image = session_->image();
  fillBuffer(image, fillByte());
  document_["fill"] = hexByte(fillByte());
  if (options_.command != "checksum" && options_.command != "convert") {
    console_.note("bytes the file does not set are 0x" + hexByte(fillByte()));
  }
  LoadReport report;
  std::int64_t loaded = 0;  // the bytes of the image the chips take
  {
    const BusWindow bus(image, options_.split);
    if (!bus.fits()) {
      throw JobError(exitcode::kUsage, "the image of " + std::to_string(options_.split) + " " +
                                           options_.device + " is larger than the 256 KiB buffer");
    }
    report = loadImage(image, file, path, format);
    // A split bus's image is the file, as far as it reaches into the lanes.
    loaded =
        options_.split > 0 ? std::clamp<std::int64_t>(report.extent, 0, bus.size()) : bus.size();
  }
  splitExtent_ = report.extent;
  document_["input"]["notes"] = report.notes();
  // What the load met is said whatever --quiet asks: it is about the data that goes to the chips.
  if (!report.notes().empty() && !options_.json) console_.warn(report.notes());
  if (!report.information().empty()) console_.note(report.information());
  recordImage("file", loaded);
  return report;
}

ImageStanding Job::standingOf(const LoadReport& loaded) const {
  ImageStanding standing;
  standing.bytesSet = static_cast<std::int64_t>(loaded.bytesSet());
  standing.notes = loaded.notes();
  standing.notesAccepted = options_.force;
  return standing;
}

void Job::refuseUncleanLoad(const LoadReport& loaded, const char* work) const {
  // For the chips, the rule that says whether a chip may pass says whether the image may be used
  // at all: an image that sets no byte never can, --force or not.
  const bool forChips = readsImage(options_.command);
  const std::optional<std::string> shortfall =
      forChips ? imageShortfall(standingOf(loaded))
               : (loaded.notes().empty() || options_.force ? std::nullopt
                                                            : std::optional(loaded.notes()));
  if (!shortfall) return;
  if (options_.force) {
    throw JobError(exitcode::kUsage, std::string("the file is not ") + work + ": " + *shortfall);
  }
  throw JobError(exitcode::kUsage, std::string("the file did not load cleanly, so it is not ") +
                                       work + " (--force goes on all the same): " +
                                       loaded.notes());
}

void Job::recordImage(const char* source, std::int64_t size) {
  const ImageBuffer& image = session_->image();
  const std::string_view bytes(reinterpret_cast<const char*>(image.data()),
                               static_cast<std::size_t>(size));
  // The image's own figures cover the same bytes: with --split, the whole bus image.
  document_["image"] =
      record::image(source, bytes, byteSum(image.data(), static_cast<std::size_t>(size)));
  document_["checksum"] = hexText(session_->checksum(), 4);
}

void Job::sayNotesSince(std::size_t line) {
  // What the driver and the programmer's search met, but not the line that names the driver
  // (the closing report does).
  for (; line < host_.logged.size(); ++line) {
    if (!host_.logged[line].starts_with("USB driver: ")) console_.note(host_.logged[line]);
  }
}

void Job::connect() {
  Session& session = *session_;
  host_.updateFile.reset();
  if (!options_.updateFirmware.empty()) host_.updateFile = options_.updateFirmware;
  const std::size_t logFrom = host_.logged.size();
  session.connect(options_.serial);
  sayNotesSince(logFrom);
  if (session.connected() &&
      session.firmwareVersionNumber() < Discovery::kLeastAcceptedVersion &&
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

const OperationResult& Job::operate(const std::function<const OperationResult&()>& work) {
  checkStop();
  const OperationResult& result = work();
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
  const DeviceType& type = deviceType();
  const std::string& command = options_.command;
  checkStop();  // a job stopped before it began leaves the programmer alone
  openDriver(&type);
  chooseDevice(type);
  if (command == "read") return readSocket();
  if (readsImage(command)) {
    if (!options_.input.empty()) {
      const LoadReport loaded = loadInput(options_.input);
      imageStanding_ = standingOf(loaded);
      refuseUncleanLoad(loaded, command == "program"  ? "programmed"
                                : command == "verify" ? "verified against"
                                                      : "compared");
    }
    prepareSocketImages();
  }
  if (command == "program") numberChips();
  for (const Operation operation : promise().operations) {
    if (const std::optional<std::string> note = untestedNote(type, operation)) console_.warn(*note);
  }
  // The first set's images, the serial numbers and the log are settled before any chip is
  // touched, and before the programmer is looked for.
  run_.emplace(*session_, plan_, promise(), command == "program" && !options_.noCheck);
  if (readsImage(command)) imagesForSet();
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
  saveOutput(options_.input, options_.format);
  return code;
}

void Job::saveOutput(const std::string& path, const std::string& formatWordAsked) {
  const FormatChoice format = outputFormat(path, askedFormat(formatWordAsked));
  console_.note("writing " + shownName(path) + " as " + std::string(formatWord(format.format)) +
                " (" + format.how + ")");
  saveImage(session_->image(), path, format.format, io_.outputDescriptor);
  document_["output"] = {{"format", formatWord(format.format)}};
  record::putPath(document_["output"], path);
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

void Job::checksum() {
  const DeviceType& type = deviceType();
  openDriver(nullptr);
  chooseDevice(type);
  refuseUncleanLoad(loadInput(options_.input), "checksummed");
  say("CheckSum=" + hexText(session_->checksum(), 4));
}

void Job::convert() {
  const DeviceType& type = deviceType();
  openDriver(nullptr);
  chooseDevice(type);
  refuseUncleanLoad(loadInput(options_.input), "converted");
  saveOutput(options_.output, options_.outFormat);
}

}  // namespace tandra::cli
