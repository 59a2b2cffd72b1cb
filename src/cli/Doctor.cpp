// tandra-cli doctor: the first contact with a programmer, checked as a maintainer would talk a
// new user through it. Each line says what was found and OK, or what to do about it.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/DeviceNames.h"
#include "cli/Job.h"
#include "common/HexText.h"
#include "common/TimeText.h"
#include "link/FirstContact.h"
#include "link/Trace.h"
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
  const Chip* type = findChip(typeName);
  if (type == nullptr) throw JobError(exitcode::kUsage, "no device type '" + typeName + "'");
  int problems = 0;
  // Every line goes to the trace as well: the trace alone tells a maintainer what the user was
  // told, and why.
  const auto tell = [&](const std::string& line) {
    say(line);
    if (trace_) trace_->shown("doctor", line);
  };
  const auto check = [&](const std::string& found, const std::string& toDo = {}) {
    tell(found + ": " + (toDo.empty() ? "OK" : toDo));
    if (!toDo.empty()) ++problems;
  };
  // Something worth knowing that needs nothing done.
  const auto note = [&](const std::string& found, const std::string& why) {
    tell(found + ": " + why);
  };
  const auto done = [&](int code) {
    if (!document_["trace"].is_null()) {
      tell("trace written to " + document_["trace"].get<std::string>() +
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
  bool mayOpen = true;
  for (const UsbDevice& device : devices) {
    const bool isVirtual = device.node == "virtual";
    real = real || device.node.starts_with("/dev/");
    check("USB device " + device.vidPid() + ", bcdDevice " + device.bcdDevice + ", serial " +
          (device.serial.empty() ? "none" : device.serial) + ", " + device.speedText() +
          (device.maxPacketSize > 0 ? ", " + std::to_string(device.maxPacketSize) + "-byte packets"
                                    : ""));
    const bool wanted = options_.serial.empty() || options_.serial == device.serial;
    mayOpen = mayOpen && (device.mayOpen || !wanted);
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
  if (devices.size() > 1 && options_.serial.empty()) {
    check(std::to_string(devices.size()) + " FTDI USB devices are attached",
          "name the programmer with --serial SERIAL (tandra-cli list shows each serial number), "
          "or unplug the others");
    return done(exitcode::kProgrammer);
  }

  // The driver, and what it met opening the programmer.
  std::string why;
  for (const std::string& probe : driverProbes_) why += (why.empty() ? " (" : "; ") + probe;
  check("driver: " + session_->driverName() + (why.empty() ? "" : why + ")"));
  const std::size_t logFrom = host_.logged.size();
  session_->connect(options_.serial);
  const Discovery::Outcome outcome = session_->searchOutcome();
  // A device that was not opened was not asked: the status log's lines of the failed wait say
  // nothing more.
  if (outcome != Discovery::Outcome::OpenRefused) {
    for (std::size_t line = logFrom; line < host_.logged.size(); ++line) {
      const std::string& text = host_.logged[line];
      // The driver's word on the latency timer is the latency line's, below.
      if (text.starts_with("USB driver: ") || text == opennote::kNoLatencyTimer) continue;
      check("the status log said", text);
    }
  }
  if (!session_->connected()) {
    reportNoContact(outcome, mayOpen, check);
    return done(exitcode::kProgrammer);
  }
  const std::uint32_t latency = session_->latencyTimerMs();
  if (latency == FtApi::kShortLatencyTimerMs) {
    check("latency timer set to 2 ms");
  } else {
    note("the USB chip kept its own latency timer of " + std::to_string(latency) + " ms",
         "nothing to fix: every reply comes up to that much later (a chip that takes the timer "
         "is faster)");
  }

  // The identify reply as it comes, every pause waited out as a reply wait does.
  const IdentifyProbe probe = session_->probeIdentify();
  if (probe.stopped) throw Stopped{};
  judgeIdentify(probe, check);
  if (probe.talking) return done(exitcode::kProgrammer);
  check("firmware " + session_->firmwareVersionText(),
        session_->firmwareVersionNumber() >= Discovery::kLeastAcceptedVersion
            ? ""
            : "older than 1.20: update it with --update-firmware FILE");

  // Socket 1 read with both waits: the two must agree.
  std::vector<std::uint8_t> reads[2];
  std::int64_t took[2] = {};
  OperationResult kept[2];
  for (int full = 0; full < 2; ++full) {
    session_->setFullWaits(full == 1);
    const std::int64_t started = host_.monotonicMs();
    kept[full] = session_->read(1);
    took[full] = host_.monotonicMs() - started;
    checkStop();
    const ImageBuffer& image = session_->image();
    reads[full].assign(image.data(), image.data() + type->size);
  }
  session_->setFullWaits(options_.fullWaits);
  const std::string both = "socket 1 read as " + typeName + " with both waits (" +
                           seconds(took[0]) + " and " + seconds(took[1]) + ")";
  if (kept[0].stopped || kept[1].stopped) {
    const OperationResult& bad = kept[0].stopped ? kept[0] : kept[1];
    check(both, "it could not be read" +
                    (bad.stopReason.empty() ? std::string() : " (" + bad.stopReason + ")") +
                    ": send the trace with a report");
  } else if (reads[0] != reads[1]) {
    check(both, "the two reads differ: the programmer's replies cannot be trusted; send the "
                "trace with a report");
  } else {
    check(both + ", alike");
  }
  return done(problems == 0 ? exitcode::kPassed : exitcode::kSocketFailed);
}

void Job::reportNoContact(Discovery::Outcome outcome, bool mayOpen, const Check& check) {
  switch (outcome) {
    case Discovery::Outcome::SeveralDevices:
      check(std::to_string(session_->devicesCounted()) + " FTDI USB devices are attached",
            "name the programmer with --serial SERIAL (tandra-cli list shows each serial "
            "number), or unplug the others");
      return;
    case Discovery::Outcome::OpenRefused:
      check("the programmer could not be opened",
            mayOpen ? "another program may hold it: close it, or unplug the programmer and plug "
                      "it in again"
                    : "see the lines above");
      return;
    case Discovery::Outcome::BadStatus:
      check("the programmer answered the identify command with status 0x" +
                hexByte(session_->identifyStatus()) + ", not 0x00",
            "its firmware did not start as it should: unplug it, plug it in again and run "
            "tandra-cli doctor again; if it says so again, send the trace");
      return;
    default:
      check("the programmer did not answer the identify command",
            "see the lines above; then unplug it, plug it in again and run tandra-cli doctor "
            "again");
      return;
  }
}

void Job::judgeIdentify(const IdentifyProbe& probe, const Check& check) {
  std::string reply = "identify reply: " + std::to_string(probe.bytes) + " bytes in " +
                      std::to_string(probe.pieces) + " piece" + (probe.pieces == 1 ? "" : "s");
  if (probe.pieces > 1) {
    reply += ", the longest pause " + std::to_string(probe.largestGapMs) + " ms after byte " +
             std::to_string(probe.gapAfter);
  }
  const std::uint32_t full = Link::kCommandLength + Link::kDefaultReplyDataLength;
  if (probe.talking) {
    check(std::string(Link::kTalkingLine) + " (before the identify command could go out)",
          "name the programmer with --serial, or unplug the other FTDI devices; if it is the "
          "programmer, its firmware may have run wild: unplug it, plug it in again, and send the "
          "trace");
  } else if (!probe.answered) {
    check(reply, "the reply was no good answer: send the trace with a report");
  } else if (probe.bytes == Link::kCommandLength) {
    check(reply + " (the header alone, nothing more within 3 s)", "");
  } else if (probe.bytes < full) {
    check(reply + ", of 2056",
          "the reply stopped short: the firmware or the cable is at fault; send the trace");
  } else {
    // Replies are read by count, every pause under the watchdog's three seconds waited out.
    check(reply + " (the header and a full block)", "");
  }
}

}  // namespace tandra::cli
