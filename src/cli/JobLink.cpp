// What a job does about the link to the programmer beyond the operations: choosing and opening
// the driver, the trace and the replay, finding the programmer again after its firmware
// restarted, and holding a replay's verdicts against the trace's.
#include <algorithm>

#include "cli/DeviceNames.h"
#include "cli/ImageFiles.h"
#include "cli/Job.h"
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
#include "link/FirmwareUpdate.h"
#include "link/HardwareBackend.h"
#include "link/ReplayApi.h"
#include "link/Trace.h"
#include "link/TracingApi.h"
#include "production/ProductionLog.h"
#include "production/ProductionPlan.h"
#include "sim/VirtualProgrammer.h"
#include "sim/VirtualState.h"

namespace tandra::cli {

void Job::findAfterRestart() {
  const std::int64_t restartedAt = host_.monotonicMs();
  const bool found = session_->findAfterRestart(options_.serial);
  checkStop();
  host_.messages.clear();  // a search that found nothing is no news while it restarts
  if (found) {
    console_.note("the programmer answered again " +
                  durationText(host_.monotonicMs() - restartedAt) +
                  " after its restart, with firmware " + session_->firmwareVersionText());
    return;
  }
  throw JobError(exitcode::kProgrammer, "the programmer did not answer within " +
                                            durationText(FirmwareUpdate::kRestartSearchMs) +
                                            " of its restart after the update");
}

std::string Job::verdictDifference() const {
  const auto& traced = replay_->tracedLooks();
  const auto& shown = host_.shownLooks;
  if (traced.empty()) return {};  // a trace from before the labels were traced
  for (std::size_t i = 0; i < std::min(traced.size(), shown.size()); ++i) {
    for (const auto& [socket, look] : traced[i]) {
      const auto here = shown[i].find(socket);
      const std::string now(
          socketLookWord(here == shown[i].end() ? SocketLook::Plain : here->second));
      if (now == look) continue;
      return "operation " + std::to_string(i + 1) + ": socket " + std::to_string(socket) +
             " ended " + look + " in the trace and " + now + " in the replay";
    }
  }
  if (traced.size() != shown.size()) {
    return "the trace holds " + std::to_string(traced.size()) + " operations, the replay ran " +
           std::to_string(shown.size());
  }
  return {};
}

void Job::openDriver(const Chip* type) {
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
  } else if (!kind_.usesDriver()) {
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
  if (path.empty() && kind_.id == JobId::Doctor) path = "tandra-doctor-" + runId() + ".trace";
  // An acceptance run's trace goes with its report.
  if (path.empty() && kind_.id == JobId::Accept) path = "tandra-accept-" + runId() + ".trace";
  if (path.empty()) return;
  trace_ = Trace::create(path);
  trace_->startFacts(std::string("tandra-cli ") + kVersion);
  for (const std::string& argument : options_.arguments) trace_->fact("argument", argument);
  host_.trace = trace_.get();
  document_["trace"] = path;
  tracePath_ = path;
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
    console_.note(
        "the traced run ended waits on time (a quiet line, a time-out, replies out of "
        "step): its replay serves the bytes without their timing, so it cannot show a "
        "fault of timing");
  }
  document_["replay"] = {
      {"file", options_.replay},
      {"matched", problem.empty()},
      {"difference", problem.empty() ? nlohmann::json(nullptr) : nlohmann::json(problem)}};
  if (problem.empty()) return;
  fail("replay: " + problem);
  code = std::max(code, exitcode::kProgrammer);
}

void Job::fillVirtualSockets(const Chip& type) {
  // The virtual programmer's sockets hold chips of the chosen type, blank or from files.
  if (options_.virtualChips.size() > kSockets) {
    throw JobError(exitcode::kUsage, "the programmer has five sockets, not " +
                                         std::to_string(options_.virtualChips.size()));
  }
  const std::string chipName(type.name);
  for (int socket = 1; socket <= kSockets; ++socket) {
    if (socket > static_cast<int>(options_.virtualChips.size())) {
      virtualProgrammer_->insertChip(socket, chipName);
      continue;
    }
    const std::string& path = options_.virtualChips[static_cast<std::size_t>(socket - 1)];
    ImageBuffer contents;
    contents.deviceEndAddress = type.endAddress();
    fillBuffer(contents, 0xFF);
    // A chip's file is read in its own format, whatever --format says of the job's file.
    InputFile file = openInput(path, io_.inputDescriptor);
    loadImage(contents, file, path, inputFormat(file, path, std::nullopt).format);
    putChip(*virtualProgrammer_, socket, chipName,
            std::span<const std::uint8_t>(contents.data(),
                                          static_cast<std::size_t>(type.endAddress()) + 1));
  }
}

void Job::loadVirtualState() {
  if (options_.virtualState.empty() || virtualProgrammer_ == nullptr) return;
  try {
    tandra::loadVirtualState(*virtualProgrammer_, options_.virtualState);
  } catch (const VirtualStateError& error) {
    throw JobError(exitcode::kUsage, error.what());
  }
}

void Job::saveVirtualState() {
  if (options_.virtualState.empty() || virtualProgrammer_ == nullptr) return;
  for (const std::string& notKept :
       tandra::saveVirtualState(*virtualProgrammer_, options_.virtualState, options_.device)) {
    fail(notKept);
  }
}

}  // namespace tandra::cli
