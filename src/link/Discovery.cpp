#include "link/Discovery.h"

#include "link/D2XXUnit.h"
#include "link/Host.h"
#include "link/Link.h"
#include "link/Trace.h"

namespace tandra {

namespace {
constexpr ScreenPoint kDiscoveryBoxCorner{375, 325};
}

std::string Discovery::versionText(int major, int minor) {
  return std::to_string(major) + (minor < 10 ? ".0" : ".") + std::to_string(minor);
}

void Discovery::notFound() {
  host_.showStatusAdvice(kRetryHint);
  host_.showMessage(BoxKind::Information, kNotFoundText, kDiscoveryBoxCorner);
}

void Discovery::logDriverNotes() {
  for (const std::string& note : usb_.takeDriverNotes()) host_.insertLogLine(note);
}

void Discovery::run() {
  host_.clearLog();
  host_.showLog(true);
  host_.insertLogLine("USB driver: " + usb_.driverName());
  if (trace != nullptr) trace->fact("driver", usb_.driverName());
  search(false);
  host_.showLog(false);
}

bool Discovery::searchAgain() {
  // The programmer is still starting, or already there: a look that finds it silent is no news,
  // and the update that restarted it is not offered again.
  link_.lookingAgain = true;
  search(true);
  link_.lookingAgain = false;
  return outcome_ == Outcome::Found;
}

void Discovery::search(bool again) {
  usb_.setErrorReporting(false);

  usb_.GetFTDeviceCount();
  devicesCounted_ = static_cast<int>(usb_.deviceCount());
  // With a serial number named, any number of devices will do: the one named is opened.
  const bool counted = wantedSerial.empty() ? usb_.deviceCount() == 1 : usb_.deviceCount() >= 1;
  if (!counted) {
    outcome_ = usb_.deviceCount() == 0 ? Outcome::NoDevice : Outcome::SeveralDevices;
    logDriverNotes();
    if (!again) notFound();
    return;
  }
  usb_.GetFTDeviceSerialNo(0);
  usb_.GetFTDeviceDescription(0);

  // A repeated search opens the device again; the earlier handle is let go first so that no
  // handle leaks and the interface is not claimed twice.
  if (usb_.isOpen()) usb_.CloseFTDevice();
  // A write time-out of 0 is "wait for ever" to the vendor's library: a firmware that stopped
  // taking data would hold the program in that write, where no watchdog reaches. Writes get
  // the five seconds libftdi gives them; one that runs out is a programmer lost.
  const bool opened = usb_.Open_USB_Device_By_Serial_Number(wantedSerial) == 0;
  if (opened) usb_.SetFTTimeouts(Link::kReadTimeoutMs, Link::kWriteTimeoutMs);
  logDriverNotes();
  link_.newConnection();
  link_.trace = trace;

  link_.store(opcode::Identify);
  link_.packet()[7] = opcode::Identify;
  link_.connectionState = kOpened;
  link_.SendCommand();

  // A reply cut off before its status byte is no answer: the buffer holds older bytes there.
  if (!link_.replyHeaderArrived() || link_.replyStatus() != 0x00) {
    outcome_ = !opened                          ? Outcome::OpenRefused
               : !link_.replyHeaderArrived()    ? Outcome::NoAnswer
                                                : Outcome::BadStatus;
    identifyStatus_ = link_.replyHeaderArrived() ? link_.replyStatus() : 0;
    if (!again) notFound();
    return;
  }

  link_.connectionState = kIdentified;
  outcome_ = Outcome::Found;
  host_.showStatusAdvice("");
  const int major = link_.reply()[1];
  const int minor = link_.reply()[2];
  versionText_ = versionText(major, minor);
  versionNumber_ = major * 256 + minor;
  host_.showStatus(kFoundPrefix + versionText_);
  if (trace != nullptr) trace->fact("firmware", versionText_);

  if (runVppStep) runVppStep();
  if (!again && versionNumber_ < kLeastAcceptedVersion &&
      host_.askQuestion(kFirmwareQuestion, kDiscoveryBoxCorner) && runFirmwareUpdate) {
    runFirmwareUpdate();
  }
}

}  // namespace tandra
