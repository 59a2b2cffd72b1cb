// tandra-cli doctor: the first contact with a programmer, checked as a maintainer would talk a
// new user through it. Each line says what was found and OK, or what to do about it.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/DeviceNames.h"
#include "cli/Job.h"
#include "common/TimeText.h"
#include "link/FirstContact.h"
#include "link/UsbDevices.h"

namespace tandra::cli {

namespace {

constexpr const char* kDefaultType = "27C256";
constexpr const char* kRuleName = "60-tandra-usb.rules";
constexpr const char* kRuleFolders[] = {"/etc/udev/rules.d", "/usr/lib/udev/rules.d",
                                        "/lib/udev/rules.d"};

// The installed udev rule's text, or nothing.
std::optional<std::string> installedRule() {
  for (const char* folder : kRuleFolders) {
    std::ifstream in(std::filesystem::path(folder) / kRuleName);
    if (!in) continue;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  return std::nullopt;
}

std::string seconds(std::int64_t ms) {
  return durationText(ms);
}

}  // namespace

int Job::doctor() {
  const std::string typeName = options_.device.empty() ? kDefaultType : options_.device;
  const DeviceType* type = findDeviceType(typeName);
  if (type == nullptr) throw JobError(exitcode::kUsage, "no device type '" + typeName + "'");
  int problems = 0;
  const auto check = [&](const std::string& found, const std::string& toDo = {}) {
    say(found + ": " + (toDo.empty() ? "OK" : toDo));
    if (!toDo.empty()) ++problems;
  };
  const auto done = [&](int code) {
    if (!document_["trace"].is_null()) {
      say("trace written to " + document_["trace"].get<std::string>() +
          ": send it with any report of trouble");
    }
    return code;
  };

  openDriver(type);
  chooseDevice(*type);
  // What is attached, whether this user may open it, and who holds it.
  const std::vector<UsbDevice> devices = driver_->usbDevices();
  if (devices.empty()) {
    const UnlistedUsb unlisted = driver_->whyNoUsbDevice();
    check(unlisted.found, unlisted.toDo + ", then run tandra-cli doctor again");
    return done(exitcode::kProgrammer);
  }
  bool real = false;  // a device node of the system's, which the udev rule gives to the user
  for (const UsbDevice& device : devices) {
    const bool isVirtual = device.node == "virtual";
    real = real || device.node.starts_with("/dev/");
    check("USB device " + device.vidPid() + ", bcdDevice " + device.bcdDevice + ", serial " +
          (device.serial.empty() ? "none" : device.serial) + ", " + device.speedText() +
          (device.maxPacketSize > 0 ? ", " + std::to_string(device.maxPacketSize) + "-byte packets"
                                    : ""));
    const std::string node = isVirtual ? "the virtual programmer" : device.node;
    check("this user " + std::string(device.mayOpen ? "may" : "may not") + " open " + node,
          device.mayOpen ? ""
                         : "install the udev rule 60-tandra-usb.rules (see the README), then "
                           "plug the programmer in again");
    if (!device.boundDriver.empty()) {
      const bool libFtdi = session_->driverName() == "libftdi1";
      check("the kernel's " + device.boundDriver + " driver holds it" +
                (libFtdi ? " (libftdi1 takes it off while a job runs)" : ""),
            libFtdi ? "" : "start with --driver=libftdi, or unload it (sudo rmmod ftdi_sio)");
    }
  }
  if (real) {
    const std::optional<std::string> rule = installedRule();
    if (!rule) {
      check("the udev rule 60-tandra-usb.rules is not installed",
            "sudo cp packaging/60-tandra-usb.rules /etc/udev/rules.d/, then sudo udevadm "
            "control --reload and plug the programmer in again");
    } else {
      check("the udev rule 60-tandra-usb.rules is installed",
            rule->find("ID_MM_DEVICE_IGNORE") != std::string::npos
                ? ""
                : "install this version's rule: the one installed lets ModemManager probe the "
                  "programmer's port");
    }
  }

  // The driver, and what it met opening the programmer.
  std::string why;
  for (const std::string& probe : driverProbes_) why += (why.empty() ? " (" : "; ") + probe;
  check("driver: " + session_->driverName() + (why.empty() ? "" : why + ")"));
  const std::size_t logFrom = host_.logged.size();
  session_->connect(options_.serial);
  for (std::size_t line = logFrom; line < host_.logged.size(); ++line) {
    const std::string& text = host_.logged[line];
    if (text.starts_with("USB driver: ")) continue;
    check("the status log said", text);
  }
  if (!session_->connected()) {
    check("the programmer did not answer the identify command",
          "see the lines above; then unplug it, plug it in again and run tandra-cli doctor again");
    return done(exitcode::kProgrammer);
  }
  const std::uint32_t latency = session_->latencyTimerMs();
  check(latency == FtApi::kShortLatencyTimerMs
            ? "latency timer set to 2 ms"
            : "the USB chip kept its own latency timer of " + std::to_string(latency) + " ms",
        latency == FtApi::kShortLatencyTimerMs
            ? ""
            : "nothing to fix, but every reply comes up to that much later; a chip that takes "
              "the timer is faster");

  // The identify reply as it comes, with the protocol's full wait.
  const IdentifyProbe probe = session_->probeIdentify();
  std::string reply = "identify reply: " + std::to_string(probe.bytes) + " bytes in " +
                      std::to_string(probe.pieces) + " piece" + (probe.pieces == 1 ? "" : "s");
  if (probe.pieces > 1) {
    reply += ", the longest pause " + std::to_string(probe.largestGapMs) + " ms after byte " +
             std::to_string(probe.gapAfter);
  }
  const std::int64_t quietMs = session_->quietPeriodMs();
  const std::uint32_t full = Link::kCommandLength + Link::kDefaultReplyDataLength;
  if (!probe.answered) {
    check(reply, "the reply was no good answer: run with --full-waits, and send the trace");
  } else if (probe.bytes == Link::kCommandLength) {
    check(reply + " (the header alone): the waits that end on a quiet line are safe");
  } else if (probe.bytes < full) {
    check(reply + ", of 2056",
          "the reply stopped short: run with --full-waits, and send the trace");
  } else if (probe.pieces > 1 && probe.gapAfter == Link::kCommandLength &&
             probe.largestGapMs >= quietMs) {
    check(reply, "the firmware pauses after the header for longer than the quiet period (" +
                     std::to_string(quietMs) + " ms): run every job with --full-waits");
  } else if (probe.largestGapMs >= Link::kReadTimeoutMs) {
    check(reply,
          "the firmware pauses longer than the read time-out: runs may stop with replies "
          "out of step; send the trace to the maintainer");
  } else {
    check(reply + " (the header and a full block): every reply is read to its full length");
  }
  check("firmware " + session_->firmwareVersionText(),
        session_->firmwareVersionNumber() >= Discovery::kLeastAcceptedVersion
            ? ""
            : "older than 1.20: update it with --update-firmware FILE");

  // Socket 1 read with both waits: the two must agree.
  std::vector<std::uint8_t> reads[2];
  const OperationResult* results[2] = {};
  std::int64_t took[2] = {};
  OperationResult kept[2];
  for (int full_ = 0; full_ < 2; ++full_) {
    session_->setFullWaits(full_ == 1);
    const std::int64_t started = host_.monotonicMs();
    kept[full_] = session_->read(1);
    took[full_] = host_.monotonicMs() - started;
    results[full_] = &kept[full_];
    const ImageBuffer& image = session_->image();
    reads[full_].assign(image.data(), image.data() + type->size);
  }
  session_->setFullWaits(options_.fullWaits);
  const std::string both = "socket 1 read as " + typeName + " with both waits (" +
                           seconds(took[0]) + " and " + seconds(took[1]) + ")";
  if (results[0]->stopped || results[1]->stopped) {
    const OperationResult& bad = results[0]->stopped ? *results[0] : *results[1];
    check(both, std::string(results[0]->stopped && !results[1]->stopped
                                ? "only the full waits read it: run every job with --full-waits"
                                : "it could not be read") +
                    (bad.stopReason.empty() ? "" : " (" + bad.stopReason + ")"));
  } else if (reads[0] != reads[1]) {
    check(both, "the two reads differ: run every job with --full-waits, and send the trace");
  } else {
    check(both + ", alike");
  }
  return done(problems == 0 ? exitcode::kPassed : exitcode::kSocketFailed);
}

}  // namespace tandra::cli
