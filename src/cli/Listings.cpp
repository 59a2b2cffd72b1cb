// The two jobs that only list: the programmers attached, and the device types.
#include "cli/DeviceNames.h"
#include "cli/Job.h"

namespace tandra::cli {

void Job::listDevices() {
  document_["devices"] = nlohmann::json::array();
  for (const DeviceType& type : kCatalogue) {
    const std::string name(type.name);
    const int bytes = type.size;
    const std::string vpp(voltsText(type.ratedVpp));
    const std::string pulse = std::to_string(type.pulseWidth);
    const std::string size = std::to_string(bytes / 1024) + "K x 8";
    const std::string volts = "Vpp " + vpp + " V";
    say(name + std::string(9 - std::min<std::size_t>(name.size(), 8), ' ') + size +
        std::string(10 - std::min<std::size_t>(size.size(), 9), ' ') + volts +
        std::string(12 - std::min<std::size_t>(volts.size(), 11), ' ') + "pulse " + pulse);
    document_["devices"].push_back(
        {{"type", name}, {"bytes", bytes}, {"vpp", vpp}, {"pulse", type.pulseWidth}});
  }
}

void Job::listProgrammers() {
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
}

}  // namespace tandra::cli
