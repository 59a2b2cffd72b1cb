#include "device/Session.h"

#include <algorithm>

#include "image/Checksum.h"

namespace tandra {

Session::Session(FtApi& api, Host& hostRef)
    : host(hostRef),
      usb(api, hostRef),
      link(usb, hostRef),
      discovery(usb, link, hostRef),
      firmware(usb, link, hostRef),
      engine(hostRef, link, image, settings),
      states(hostRef, link, image, settings, engine),
      operations(hostRef, link, image, socketImages, settings, engine, states) {
  link.onCurrentAddressReset = [this] { image.currentAddress = image.deviceStartAddress; };
  discovery.runVppStep = [this] { engine.VppStep(); };
  discovery.runFirmwareUpdate = [this] { firmware.run(); };
}

bool Session::connect(const std::string& serial) {
  discovery.wantedSerial = serial;
  discovery.run();
  return connected();
}

void Session::close() {
  link.quitFlag = 5;
  engine.byteIndex = 0;
  host.stopWatchdog();
  if (link.connectionState == kIdentified) {
    link.SendIdle();
    usb.CloseFTDevice();
    link.connectionState = kNoProgrammer;  // nothing may be sent on the closed handle
  }
}

const DeviceType* Session::chooseType(int row) {
  settings.deviceListRow = row;
  image.deviceStartAddress = 0;
  settings.vppSetting = 3;
  settings.deviceFamily = 0;
  settings.pulseWidth = kNoTypePulseWidth;
  const DeviceType* type = catalogueEntry(row);
  if (type != nullptr) {
    settings.deviceCaption = std::string(type->caption);
    image.deviceEndAddress = type->endAddress;
    settings.deviceFamily = type->family;
    settings.vppSetting = vppSetting(type->ratedVpp);
    settings.pulseWidth = static_cast<std::uint8_t>(type->pulseWidth);
  } else {
    settings.deviceCaption = "No Device";
  }
  return type;
}

void Session::chooseSocketCount(int sockets) {
  settings.socketCount = std::clamp(sockets, 1, Engine::kSockets);
}

void Session::select(const DeviceType& type, int sockets) {
  chooseType(type.row);
  engine.VppStep();
  chooseSocketCount(sockets);
}

void Session::setPulseWidth(int width) {
  // The programmer takes the width as one byte; a width of 0 or above 255 would go out as a
  // different pulse from the one asked for.
  if (width < 1 || width > 255) throw SettingError(kPulseRangeText);
  settings.pulseWidth = static_cast<std::uint8_t>(width);
}

void Session::setVpp(int vppSetting) {
  settings.vppSetting = vppSetting;
  engine.VppStep();
}

std::optional<std::string> untestedNote(const Chip& chip, Operation operation) {
  const Tested& tested = chip.tested;
  const Proof proof = operation == Operation::Program                ? tested.program
                      : operation == Operation::BlankCheck           ? tested.blank
                      : operation == Operation::Move                 ? tested.read
                                                                     : tested.verify;
  if (proof == Proof::Proven) return std::nullopt;
  static constexpr const char* kWords[] = {"programming", "blank checking", "verifying",
                                           "reading", "comparing"};
  return "The " + std::string(chip.name) + " was added from its data sheet: " +
         kWords[static_cast<int>(operation)] +
         " it is not yet proven on a real programmer. Check the first chips by other means, "
         "and tell how it went.";
}

const OperationResult& Session::run(Operation operation) {
  operations.run(operation);
  // Newest on top: the note stands over the operation's own lines.
  if (const DeviceType* type = catalogueEntry(settings.deviceListRow)) {
    if (const std::optional<std::string> note = untestedNote(*type, operation)) {
      host.insertLogLine(*note);
    }
  }
  return operations.lastResult();
}

const OperationResult& Session::programWhereItCan() {
  const OperationResult compared = run(Operation::ProgramCompare);
  // A compare that did not reach its end judged no socket: none may be programmed on it, and
  // the idle command of another operation would clear a stop that is not held.
  if (compared.stopped) {
    operations.notStarted(Operation::Program);
    return operations.lastResult();
  }
  int cannot = 0;
  for (const SocketResult& socket : compared.sockets) {
    if (socket.state == SocketResult::State::Failed) cannot |= 1 << (socket.socket - 1);
  }
  const int leftOut = settings.skippedSockets;
  settings.skippedSockets |= cannot;
  composed_ = run(Operation::Program);
  settings.skippedSockets = leftOut;
  for (SocketResult& socket : composed_.sockets) {
    if ((cannot >> (socket.socket - 1) & 1) == 0) continue;
    const auto found = std::find_if(compared.sockets.begin(), compared.sockets.end(),
                                    [&](const SocketResult& s) { return s.socket == socket.socket; });
    socket = *found;
  }
  return composed_;
}

const OperationResult& Session::read(int socket) {
  operations.run(Operation::Move, std::clamp(socket, 1, Engine::kSockets));
  return operations.lastResult();
}

std::uint16_t Session::checksum() const {
  return bufferChecksum(image);
}

}  // namespace tandra
