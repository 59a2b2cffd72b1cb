#include "cli/Job.h"

#include <algorithm>

#include "cli/DeviceNames.h"
#include "cli/ImageFiles.h"
#include "common/FileError.h"
#include "common/HexText.h"
#include "common/Version.h"
#include "link/HardwareBackend.h"
#include "sim/VirtualProgrammer.h"

namespace tandra::cli {

namespace {

std::string seconds(std::int64_t ms) {
  return std::to_string(ms / 1000) + "." + std::to_string(ms / 100 % 10) + " s";
}

const char* stateWord(SocketResult::State state) {
  switch (state) {
    case SocketResult::State::Passed:
      return "passed";
    case SocketResult::State::Failed:
      return "failed";
    case SocketResult::State::Stopped:
      break;
  }
  return "stopped";
}

std::optional<FileFormat> askedFormat(const std::string& word) {
  bool valid = true;
  const std::optional<FileFormat> format = parseFormat(word, &valid);
  if (!valid) {
    throw JobError(exitcode::kUsage,
                   "--format takes bin, intel, srec, ascii or auto, not '" + word + "'");
  }
  return format;
}

}  // namespace

Job::Job(const CliOptions& options, CliIo& io)
    : options_(options),
      io_(io),
      startedMs_(0),
      host_(io.errIsTerminal && !options.quiet ? &io.err : nullptr, io.interrupted) {
  startedMs_ = host_.monotonicMs();
  document_["tool"] = "tandra-cli";
  document_["version"] = kVersion;
  document_["command"] = options.command;
}

Job::~Job() = default;

int Job::run() {
  int code = exitcode::kPassed;
  try {
    code = runCommand();
  } catch (const JobError& error) {
    code = error.exitCode;
    document_["error"] = error.what();
    if (!options_.json) io_.err << "tandra-cli: " << error.what() << "\n";
  } catch (const FileError& error) {
    code = exitcode::kUsage;
    std::string where = error.path();
    if (error.line() > 0)
      where += (where.empty() ? "line " : ", line ") + std::to_string(error.line());
    const std::string message = boxText(error.what()) + (where.empty() ? "" : " (" + where + ")");
    document_["error"] = message;
    if (!error.notes().empty()) document_["notes"] = error.notes();
    if (!options_.json) io_.err << "tandra-cli: " << message << "\n";
  }
  closeProgrammer();
  if (host_.interrupted()) code = exitcode::kInterrupted;
  host_.endProgressLine();
  const std::int64_t elapsed = host_.monotonicMs() - startedMs_;
  document_["elapsed_ms"] = elapsed;
  document_["exit_code"] = code;
  if (options_.json) {
    io_.out << document_.dump(2) << "\n";
  } else if (options_.command != "list" && options_.command != "devices") {
    // The closing line, in every case.
    io_.out << options_.command << ": " << outcome(code) << " in " << seconds(elapsed) << "\n";
  }
  return code;
}

std::string Job::outcome(int code) const {
  if (code == exitcode::kInterrupted) return "interrupted";
  if (code != exitcode::kPassed && code != exitcode::kSocketFailed) {
    return "stopped (exit code " + std::to_string(code) + ")";
  }
  if (!bench_ || bench_->operations.lastResult().sockets.empty()) return "done";
  int passed = 0;
  const auto& sockets = bench_->operations.lastResult().sockets;
  for (const SocketResult& socket : sockets) passed += socket.state == SocketResult::State::Passed;
  return std::to_string(passed) + " of " + std::to_string(sockets.size()) + " sockets passed";
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
  } else {
    return deviceWork();
  }
  return exitcode::kPassed;
}

void Job::say(const std::string& line) {
  if (!options_.json) io_.out << line << "\n";
}

void Job::note(const std::string& line) {
  if (!options_.json && !options_.quiet) io_.err << line << "\n";
}

const DeviceType& Job::deviceType() const {
  if (const DeviceType* type = findDeviceType(options_.device)) return *type;
  throw JobError(exitcode::kUsage, "no device type '" + options_.device + "'; the nearest are " +
                                       nearestDeviceNames(options_.device) +
                                       " (tandra-cli devices lists them all)");
}

void Job::openDriver(const DeviceType* type) {
  const bool wantsVirtual = options_.virtualProgrammer || !options_.virtualChips.empty() ||
                            parseDriverChoice(options_.driver) == DriverChoice::Virtual;
  if (io_.driver != nullptr) {
    driver_ = io_.driver;
  } else if (wantsVirtual) {
    auto programmer = std::make_unique<VirtualProgrammer>();
    programmer->setRealisticTiming(true);
    virtualProgrammer_ = programmer.get();
    ownDriver_ = std::move(programmer);
  } else if (options_.command == "checksum" || options_.command == "convert" ||
             options_.command == "devices") {
    ownDriver_ = std::make_unique<NoDriver>("no programmer needed");
  } else {
    const DriverChoice choice =
        parseDriverChoice(options_.driver).value_or(DriverChoice::Automatic);
    ownDriver_ = chooseDriver(choice, hardwareDrivers());
  }
  if (driver_ == nullptr) driver_ = ownDriver_.get();
  bench_ = std::make_unique<Workbench>(*driver_, host_);
  host_.onQuit = [this] { bench_->Quit_Func_ButClick(); };
  host_.onWatchdog = [this] { bench_->Timer1Timer(); };
  bench_->FormCreate();

  // The virtual programmer's sockets hold chips of the chosen type, blank or from files.
  if (virtualProgrammer_ == nullptr || type == nullptr) return;
  if (options_.virtualChips.size() > VirtualProgrammer::kSockets) {
    throw JobError(exitcode::kUsage, "the programmer has five sockets, not " +
                                         std::to_string(options_.virtualChips.size()));
  }
  const std::string chipName(firstWord(kDeviceListRows[static_cast<std::size_t>(type->row)]));
  for (int socket = 1; socket <= VirtualProgrammer::kSockets; ++socket) {
    Eprom& chip = virtualProgrammer_->insertChip(socket, chipName);
    if (socket > static_cast<int>(options_.virtualChips.size())) continue;
    const std::string& path = options_.virtualChips[static_cast<std::size_t>(socket - 1)];
    ImageBuffer contents;
    contents.deviceEndAddress = type->endAddress;
    std::fill(contents.data(), contents.data() + ImageBuffer::kSize, 0xFF);
    loadImage(contents, path, inputFormat(path, askedFormat(options_.format)).format);
    std::copy(contents.data(), contents.data() + chip.size(), chip.cells().begin());
  }
}

void Job::chooseDevice(const DeviceType& type) {
  // The device list and the count list, as the operator clicks them; the programmer is not
  // reached yet, so nothing is sent.
  bench_->selection.DeviceClick();
  bench_->selection.Device_BoxClick(type.row);
  bench_->selection.Num_Of_DevicesClick(options_.sockets);
  document_["device"] = std::string(firstWord(kDeviceListRows[static_cast<std::size_t>(type.row)]));
  document_["sockets"] = options_.sockets;
}

LoadReport Job::loadInput(const std::string& path, const std::string& formatWord) {
  const FormatChoice format = inputFormat(path, askedFormat(formatWord));
  note("reading " + path + " as " + std::string(cli::formatWord(format.format)) + " (" +
       format.how + ")");
  const LoadReport report = loadImage(bench_->image, path, format.format);
  document_["input"] = {{"path", path},
                        {"format", cli::formatWord(format.format)},
                        {"format_chosen", format.how},
                        {"notes", report.notes()}};
  if (!report.notes().empty()) note(report.notes());
  return report;
}

void Job::sayDiscoveryNotes() {
  // What the driver met, oldest first, but not the line that names it (the report does).
  for (auto line = host_.log.rbegin(); line != host_.log.rend(); ++line) {
    if (!line->starts_with("USB driver: ")) note(*line);
  }
}

void Job::connect() {
  Discovery& discovery = bench_->discovery;
  discovery.wantedSerial = options_.serial;
  host_.firmwareFile.reset();
  if (!options_.updateFirmware.empty()) host_.firmwareFile = options_.updateFirmware;
  discovery.run();
  sayDiscoveryNotes();
  if (bench_->link.connectionState == kIdentified &&
      discovery.firmwareVersionNumber() < Discovery::kLeastAcceptedVersion && host_.firmwareFile) {
    // After an update the programmer is searched for again, as a click on the status line does.
    for (const std::string& box : host_.boxes) note(box);
    host_.boxes.clear();
    bench_->StaticText3Click();
  }
  const std::uint32_t count = bench_->usb.deviceCount();
  if (bench_->link.connectionState != kIdentified) {
    if (count == 0) throw JobError(exitcode::kProgrammer, "no programmer found");
    if (count > 1 && options_.serial.empty()) {
      throw JobError(exitcode::kProgrammer,
                     std::to_string(count) +
                         " programmers are attached: pick one with --serial (tandra-cli list "
                         "shows their serial numbers)");
    }
    throw JobError(exitcode::kProgrammer,
                   options_.serial.empty()
                       ? "the programmer does not answer"
                       : "no programmer with serial " + options_.serial + " answers");
  }
  document_["programmer"] = {{"driver", bench_->usb.driverName()},
                             {"serial", options_.serial},
                             {"firmware", discovery.firmwareVersionText()}};
  note("programmer found through " + bench_->usb.driverName() + ", firmware " +
       discovery.firmwareVersionText());
  if (discovery.firmwareVersionNumber() < Discovery::kLeastAcceptedVersion) {
    throw JobError(exitcode::kOldFirmware,
                   "the programmer's firmware " + discovery.firmwareVersionText() +
                       " is older than 1.20; update it with --update-firmware FILE");
  }
}

void Job::applySettings() {
  DeviceSelection& selection = bench_->selection;
  if (options_.pulse) {
    selection.PulseClick();
    for (char digit : std::to_string(*options_.pulse)) selection.P_EditKeyPress(digit);
    selection.P_EditKeyPress(LineEntry::kEnter);
  }
  if (!options_.vpp.empty()) {
    const int wanted = options_.vpp == "25" ? 1 : options_.vpp == "21" ? 2 : 3;
    for (int clicks = 0; clicks < 3 && bench_->settings.vppSetting != wanted; ++clicks) {
      selection.Vpp_ButClick();
    }
  }
  if (!host_.boxes.empty()) throw JobError(exitcode::kUsage, host_.boxes.back());
}

const OperationResult& Job::operate(void (Operations::*click)()) {
  (bench_->operations.*click)();
  host_.endProgressLine();
  const OperationResult& result = bench_->operations.lastResult();
  // Stopped, and not by Ctrl-C: the programmer stopped answering.
  if (result.stopped && !host_.interrupted()) linkLost_ = true;
  report(result);
  return result;
}

void Job::report(const OperationResult& result) {
  nlohmann::json sockets = nlohmann::json::array();
  say(result.operation + " (" + seconds(result.elapsedMs) + (result.stopped ? ", stopped" : "") +
      ")");
  for (const SocketResult& socket : result.sockets) {
    say("socket " + std::to_string(socket.socket) + ": " + socket.describe());
    nlohmann::json entry = {{"socket", socket.socket},
                            {"result", stateWord(socket.state)},
                            {"text", socket.describe()}};
    if (socket.failure) {
      entry["address"] = socket.failure->address;
      if (socket.failure->expected) entry["expected"] = *socket.failure->expected;
      if (socket.failure->actual) entry["actual"] = *socket.failure->actual;
    }
    sockets.push_back(entry);
  }
  document_["operations"].push_back({{"name", result.operation},
                                     {"stopped", result.stopped},
                                     {"elapsed_ms", result.elapsedMs},
                                     {"reached", result.reached},
                                     {"sockets", sockets}});
}

int Job::exitCodeFor(const OperationResult& result) const {
  if (host_.interrupted()) return exitcode::kInterrupted;
  if (linkLost_) return exitcode::kProgrammer;
  return result.allPassed() ? exitcode::kPassed : exitcode::kSocketFailed;
}

int Job::deviceWork() {
  const DeviceType& type = deviceType();
  const std::string& command = options_.command;
  openDriver(&type);
  chooseDevice(type);
  if (command == "program" || command == "verify" || command == "compare") {
    const LoadReport loaded = loadInput(options_.input, options_.format);
    if (command == "program" && !loaded.notes().empty() && !options_.force) {
      throw JobError(exitcode::kUsage,
                     "the file did not load cleanly, so it is not programmed (--force programs "
                     "it all the same): " +
                         loaded.notes());
    }
  }
  connect();
  applySettings();
  if (command == "program") {
    const OperationResult& programmed = operate(&Operations::Program_EpromClick);
    int code = exitCodeFor(programmed);
    if (code == exitcode::kPassed || code == exitcode::kSocketFailed) {
      if (!options_.noVerify)
        code = std::max(code, exitCodeFor(operate(&Operations::Verify_EpromClick)));
    }
    return code;
  }
  if (command == "verify") return exitCodeFor(operate(&Operations::Verify_EpromClick));
  if (command == "blank") return exitCodeFor(operate(&Operations::Blank_ChkClick));
  if (command == "compare") return exitCodeFor(operate(&Operations::Prg_CompareClick));
  // read: socket 1 into the buffer, then the buffer into the file.
  const int code = exitCodeFor(operate(&Operations::Move_EpromClick));
  if (code != exitcode::kPassed) return code;
  const FormatChoice format = outputFormat(options_.input, askedFormat(options_.format));
  note("writing " + options_.input + " as " + std::string(formatWord(format.format)) + " (" +
       format.how + ")");
  saveImage(bench_->image, options_.input, format.format);
  document_["output"] = {{"path", options_.input}, {"format", formatWord(format.format)}};
  return code;
}

void Job::closeProgrammer() {
  // As the window's close: the idle command, then the device let go.
  if (bench_) bench_->FormCloseQuery();
}

void Job::checksum() {
  const DeviceType& type = deviceType();
  openDriver(nullptr);
  chooseDevice(type);
  loadInput(options_.input, options_.format);
  bench_->buffer.Chk_Sum_ButClick();
  const std::string caption = host_.caption(Control::Chk_Sum_But);
  document_["checksum"] = caption.substr(caption.find('=') + 1);
  say(caption);
}

void Job::convert() {
  const DeviceType& type = deviceType();
  openDriver(nullptr);
  chooseDevice(type);
  loadInput(options_.input, options_.format);
  const FormatChoice format = outputFormat(options_.output, askedFormat(options_.outFormat));
  note("writing " + options_.output + " as " + std::string(formatWord(format.format)) + " (" +
       format.how + ")");
  saveImage(bench_->image, options_.output, format.format);
  document_["output"] = {{"path", options_.output}, {"format", formatWord(format.format)}};
}

}  // namespace tandra::cli
