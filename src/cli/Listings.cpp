// The jobs that only list or show: the programmers attached, the device types, and a serial
// number ledger.
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
#include "link/HardwareBackend.h"
#include "link/ReplayApi.h"
#include "link/Trace.h"
#include "link/TracingApi.h"
#include "production/ProductionLog.h"
#include "production/ProductionPlan.h"
#include "production/SerialLedger.h"
#include "production/SerialNumbers.h"
#include "sim/VirtualProgrammer.h"

namespace tandra::cli {

int Job::listDevices() {
  document_["devices"] = nlohmann::json::array();
  for (const Chip& type : chips()) {
    const std::string name(type.name);
    const int bytes = type.size;
    const std::string vpp(voltsText(type.ratedVpp));
    const std::string pulse = std::to_string(type.pulseCode);
    const std::string size = std::to_string(bytes / 1024) + "K x 8";
    const std::string volts = "Vpp " + vpp + " V";
    say(name + std::string(9 - std::min<std::size_t>(name.size(), 8), ' ') + size +
        std::string(10 - std::min<std::size_t>(size.size(), 9), ' ') + volts +
        std::string(12 - std::min<std::size_t>(volts.size(), 11), ' ') + "pulse " + pulse);
    document_["devices"].push_back(
        {{"type", name}, {"bytes", bytes}, {"vpp", vpp}, {"pulse", type.pulseCode}});
  }
  return exitcode::kPassed;
}

int Job::listProgrammers() {
  openDriver(nullptr);
  const std::vector<Session::Attached> attached = session_->attached();
  document_["programmers"] = nlohmann::json::array();
  for (std::size_t index = 0; index < attached.size(); ++index) {
    checkStop();
    const std::string& serial = attached[index].serial;
    const std::string& description = attached[index].description;
    // Asked for its firmware, each by its serial number, then let go again.
    const bool answered = session_->connect(serial);
    const std::string firmware = answered ? session_->firmwareVersionText() : "?";
    session_->close();
    say(std::to_string(index) + "  " + serial + "  " + description + "  firmware " + firmware);
    document_["programmers"].push_back({{"index", index},
                                        {"serial", serial},
                                        {"description", description},
                                        {"firmware", firmware}});
  }
  if (attached.empty()) {
    throw JobError(exitcode::kProgrammer, "no programmer found through " + session_->driverName());
  }
  return exitcode::kPassed;
}

int Job::serialLedger() {
  const std::string& path = options_.serialLedger;
  try {
    if (!options_.serialStart.empty()) {
      LedgerState state;
      state.next = optionNumber("--sn-start", options_.serialStart, 10);
      state.step =
          options_.serialStep.empty() ? 1 : optionNumber("--sn-step", options_.serialStep, 10);
      if (state.step == 0) {
        throw JobError(exitcode::kUsage,
                       "--sn-step 0 would give every chip the same number: give 1 or more");
      }
      state.format = parseSerialFormat(options_.serialFormat).value_or(SerialFormat::LittleEndian);
      if (options_.serialWidth && (*options_.serialWidth < 1 || *options_.serialWidth > 20)) {
        throw JobError(exitcode::kUsage, "--sn-width wants 1 to 20 bytes, not " +
                                             std::to_string(*options_.serialWidth));
      }
      state.width = options_.serialWidth.value_or(0);
      SerialLedger::create(path, state);
      console_.note("the ledger " + path + " starts at " + std::to_string(state.next));
    }
    // Reading it checks it is whole; with a log, it is held against the log as well.
    LoggedNumbers logged(options_.log);
    const LedgerState state = options_.log.empty() ? SerialLedger::read(path)
                                                   : SerialLedger::readAgainstLog(path, logged);
    document_["ledger"] = record::ledger(path, state);
    if (!options_.log.empty()) {
      // One number a line: what a script hands to whoever looks for those chips.
      nlohmann::json without = nlohmann::json::array();
      for (const std::uint64_t number : numbersWithoutAPass(state, options_.log)) {
        say(std::to_string(number));
        without.push_back(std::to_string(number));
      }
      document_["ledger"]["without_pass"] = without;
      return exitcode::kPassed;
    }
    std::size_t reserved = 0;
    for (const LedgerState::Reservation& r : state.reservations) reserved += r.numbers.size();
    say("next " + (state.runOut ? std::string("none: the numbers have run out")
                                : std::to_string(state.next)));
    say("step " + std::to_string(state.step));
    say("format " + document_["ledger"]["format"].get<std::string>() +
        (state.width > 0 ? ", " + std::to_string(state.width) + " bytes" : ""));
    std::string back;
    for (const std::uint64_t number : state.returned) back += " " + std::to_string(number);
    if (!back.empty()) say("to be given again:" + back);
    say("reserved " + std::to_string(reserved) + " numbers in " +
        std::to_string(state.reservations.size()) + " sets");
    say("checked: every number reserved is below next, and each to be given again was reserved, "
        "once");
  } catch (const LedgerError& error) {
    throw JobError(exitcode::kUsage, error.what());
  }
  return exitcode::kPassed;
}

}  // namespace tandra::cli
