#include "device/Session.h"

#include <algorithm>

#include "common/FileError.h"
#include "common/TimeText.h"
#include "files/Savers.h"
#include "image/BusWindow.h"
#include "image/Checksum.h"

namespace tandra {

Session::Session(FtApi& api, SessionHost& hostRef)
    : host_(hostRef),
      usb_(api, hostRef),
      link_(usb_, hostRef),
      discovery_(usb_, link_, hostRef),
      firmware_(usb_, link_, hostRef),
      engine_(hostRef, link_, image_, settings_),
      states_(hostRef, link_, image_, settings_, engine_),
      operations_(hostRef, link_, image_, socketImages_, settings_, engine_, states_) {
  link_.onCurrentAddressReset = [this] { image_.currentAddress = image_.deviceStartAddress; };
  discovery_.runVppStep = [this] { engine_.VppStep(); };
  discovery_.runFirmwareUpdate = [this] {
    firmware_.run();
    restartPending_ = firmware_.restartSent();
  };
}

bool Session::findAfterRestart(const std::string& serial) {
  restartPending_ = false;
  discovery_.wantedSerial = serial;
  const std::int64_t restartedAt = host_.monotonicMs();
  host_.showStatus(FirmwareUpdate::kLookingAgainStatus);
  // The firmware takes a moment to start: a look before it has would cost the reply watchdog's
  // three seconds.
  host_.waitForEvents(FirmwareUpdate::kRestartFirstLookMs);
  for (;;) {
    if (stopped()) return false;
    if (discovery_.searchAgain()) {
      host_.insertLogLine("The programmer answered again " +
                          durationText(host_.monotonicMs() - restartedAt) +
                          " after its restart, with firmware " + firmwareVersionText());
      return true;
    }
    if (host_.monotonicMs() - restartedAt >= FirmwareUpdate::kRestartSearchMs) break;
    host_.waitForEvents(FirmwareUpdate::kRestartLookEveryMs);
  }
  host_.showStatus(FirmwareUpdate::kNotBackStatus);
  host_.showStatusAdvice(Discovery::kRetryHint);
  return false;
}

bool Session::connect(const std::string& serial) {
  discovery_.wantedSerial = serial;
  discovery_.run();
  return connected();
}

void Session::close() {
  link_.Quit();
  engine_.byteIndex = 0;
  host_.stopWatchdog();
  if (link_.connectionState == kIdentified) {
    link_.SendIdle();
    usb_.CloseFTDevice();
    link_.connectionState = kNoProgrammer;  // nothing may be sent on the closed handle
  }
}

const Chip* Session::chooseType(int row) {
  settings_.deviceListRow = row;
  image_.deviceStartAddress = 0;
  settings_.vppSetting = 3;
  settings_.deviceFamily = 0;
  settings_.pulseWidth = kNoTypePulseWidth;
  const Chip* type = catalogueEntry(row);
  if (type != nullptr) {
    settings_.deviceCaption = std::string(type->caption);
    image_.deviceEndAddress = type->endAddress();
    settings_.deviceFamily = type->family;
    settings_.vppSetting = vppSetting(type->ratedVpp);
    settings_.pulseWidth = static_cast<std::uint8_t>(type->pulseCode);
  } else {
    settings_.deviceCaption = "No Device";
  }
  return type;
}

void Session::chooseSocketCount(int sockets) {
  settings_.socketCount = std::clamp(sockets, 1, kSockets);
}

void Session::select(const Chip& type, int sockets) {
  chooseType(type.row());
  engine_.VppStep();
  chooseSocketCount(sockets);
}

void Session::setPulseWidth(int width) {
  // The programmer takes the width as one byte; a width of 0 or above 255 would go out as a
  // different pulse from the one asked for.
  if (width < 1 || width > 255) throw SettingError(kPulseRangeText);
  settings_.pulseWidth = static_cast<std::uint8_t>(width);
}

void Session::setVpp(int vppSetting) {
  settings_.vppSetting = vppSetting;
  engine_.VppStep();
}

std::optional<std::string> untestedNote(const Chip& chip, Operation operation) {
  const Tested& tested = chip.tested;
  const Proof proof = operation == Operation::Program      ? tested.program
                      : operation == Operation::BlankCheck ? tested.blank
                      : operation == Operation::Move       ? tested.read
                                                           : tested.verify;
  if (proof == Proof::Proven) return std::nullopt;
  static constexpr const char* kWords[] = {"programming", "blank checking", "verifying", "reading",
                                           "comparing"};
  return "The " + std::string(chip.name) +
         " was added from its data sheet: " + kWords[static_cast<int>(operation)] +
         " it is not yet proven on a real programmer. Check the first chips by other means, "
         "and tell how it went.";
}

const OperationResult& Session::run(Operation operation) {
  const bool typeChosen = settings_.deviceFamily != 0;
  operations_.run(operation);
  if (operation == Operation::Move && typeChosen) noteRead(1);
  // Newest on top: the note stands over the operation's own lines.
  if (const Chip* type = catalogueEntry(settings_.deviceListRow)) {
    if (const std::optional<std::string> note = untestedNote(*type, operation)) {
      host_.insertLogLine(*note);
    }
  }
  return operations_.lastResult();
}

const OperationResult& Session::programWhereItCan() {
  const OperationResult compared = run(Operation::ProgramCompare);
  // A compare that did not reach its end judged no socket: none may be programmed on it, and
  // the idle command of another operation would clear a stop that is not held.
  if (compared.stopped) {
    operations_.notStarted(Operation::Program);
    return operations_.lastResult();
  }
  int cannot = 0;
  for (const SocketResult& socket : compared.sockets) {
    if (socket.state == SocketResult::State::Failed) cannot |= 1 << (socket.socket - 1);
  }
  const int leftOut = settings_.skippedSockets;
  settings_.skippedSockets |= cannot;
  composed_ = run(Operation::Program);
  settings_.skippedSockets = leftOut;
  for (SocketResult& socket : composed_.sockets) {
    if ((cannot >> (socket.socket - 1) & 1) == 0) continue;
    const auto found =
        std::find_if(compared.sockets.begin(), compared.sockets.end(),
                     [&](const SocketResult& s) { return s.socket == socket.socket; });
    socket = *found;
  }
  return composed_;
}

const OperationResult& Session::read(int socket) {
  const bool typeChosen = settings_.deviceFamily != 0;
  operations_.run(Operation::Move, std::clamp(socket, 1, kSockets));
  if (typeChosen) noteRead(std::clamp(socket, 1, kSockets));
  return operations_.lastResult();
}

void Session::noteRead(int socket) {
  // A stopped read reports the start of the block it stopped in; every block before it was read.
  const OperationResult& moved = operations_.lastResult();
  if (moved.stopped && moved.reached <= image_.deviceStartAddress) return;
  history_.read(socket, !moved.stopped, image_.deviceEndAddress);
}

std::vector<Session::Attached> Session::attached() {
  // A look at the bus alone: a missing driver or an empty bus is no error to report, and the
  // boxes stay as they were (off, once the programmer has been looked for).
  const bool reporting = usb_.errorReporting();
  usb_.setErrorReporting(false);
  usb_.GetFTDeviceCount();
  std::vector<Attached> found;
  for (std::uint32_t index = 0; index < usb_.deviceCount(); ++index) {
    Attached programmer;
    if (usb_.GetFTDeviceSerialNo(index) == ft::Ok) programmer.serial = usb_.deviceString();
    if (usb_.GetFTDeviceDescription(index) == ft::Ok) programmer.description = usb_.deviceString();
    found.push_back(std::move(programmer));
  }
  usb_.setErrorReporting(reporting);
  return found;
}

void Session::fillImage(std::uint8_t byte) {
  fillBuffer(image_, byte);
  history_.filled(byte, image_.deviceEndAddress);
}

LoadReport Session::load(InputFile& file, const std::string& name, const FormatChoice& choice,
                         int busLanes) {
  const BusWindow bus(image_, busLanes);
  const ImageBuffer before = image_.copy();
  try {
    const LoadReport report = loadInFormat(image_, file, choice);
    history_.loaded(name, report, image_.deviceEndAddress);
    return report;
  } catch (const FileError& error) {
    // What the file stored before its error stays in the buffer, and is named with it.
    if (!std::equal(image_.data(), image_.data() + ImageBuffer::kSize, before.data())) {
      history_.loadStopped(name, boxText(error.what()));
    }
    throw;
  }
}

void Session::save(const std::string& path, FileFormat format) const {
  saveInFormat(image_, path, format);
}

void Session::saveTo(int descriptor, FileFormat format) const {
  writeToDescriptor(descriptor, savedBytes(image_, format));
}

std::uint16_t Session::checksum() const {
  return bufferChecksum(image_);
}

}  // namespace tandra
