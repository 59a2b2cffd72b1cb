#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

#include "device/Catalogue.h"
#include "device/ControlStates.h"
#include "device/DeviceSettings.h"
#include "device/Engine.h"
#include "device/Operations.h"
#include "device/SocketImages.h"
#include "image/ImageBuffer.h"
#include "link/D2XXUnit.h"
#include "link/Discovery.h"
#include "link/FirmwareUpdate.h"
#include "link/Host.h"
#include "link/Link.h"

namespace tandra {

class FtApi;

// A setting the programmer cannot take; the message says why, in the operator's words.
struct SettingError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// What to tell the operator before `operation` runs on chips of `chip`: nothing when it has been
// seen to work on a real programmer, else that it has not.
std::optional<std::string> untestedNote(const Chip& chip, Operation operation);

// One programmer, one image buffer and one set of settings, driven by typed calls: values in,
// results out, events through the Host. The window's handlers run these same calls under their
// controls; the command-line program runs them without a window. Nothing here knows a widget.
class Session {
 public:
  static constexpr const char* kPulseRangeText = "Pulse Width Must Be 1 To 255.";

  Session(FtApi& api, Host& host);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // The parts, each built after the ones it works with.
  Host& host;
  D2XXUnit usb;
  Link link;
  Discovery discovery;
  FirmwareUpdate firmware;
  ImageBuffer image;
  SocketImages socketImages{image};
  DeviceSettings settings;
  Engine engine;
  ControlStates states;
  Operations operations;

  // --- The programmer ---
  // Looks for the programmer (the one with this serial number, or else the only one attached)
  // and asks for its firmware version; true when it answered. Firmware older than 1.20 is
  // offered the update through the host's question.
  bool connect(const std::string& serial = {});
  bool connected() const { return link.connectionState == kIdentified; }
  // Idles the programmer and lets it go, as closing the window does.
  void close();

  // --- Settings ---
  // The row of the device list: the address window, the family, and the type's own voltage and
  // pulse width. Nothing is sent. nullptr (and no device) for a row that selects no type.
  const DeviceType* chooseType(int row);
  // The sockets in use: 1 to 5 (below 1 counts as 1, above 5 as 5).
  void chooseSocketCount(int sockets);
  // A type and its sockets, with the type's voltage sent to the programmer.
  void select(const DeviceType& type, int sockets);
  // 1 to 255; any other width throws SettingError.
  void setPulseWidth(int width);
  // 1: 25 V, 2: 21 V, 3: 12.5 V; sent to the programmer.
  void setVpp(int vppSetting);

  // --- Work ---
  // Runs one operation to its end (or its stop) and gives every socket's result.
  const OperationResult& run(Operation operation);
  // Program Compare first, then Program for the sockets that can take their image; the others
  // get no pulse and stand failed as Program Compare found them ("Can`t Be Programed").
  const OperationResult& programWhereItCan();
  // Reads one socket into the image buffer, as Move Device #1 reads socket 1.
  const OperationResult& read(int socket);
  std::uint16_t checksum() const;
  // Stops the running operation where Quit would, and makes every later one end at once with
  // nothing sent, until resume(). The idle command that follows every operation does not clear
  // this stop, as it clears a Quit.
  void stop() { link.holdStop(); }
  // Leaves sockets out of the operations (bit s-1 for socket s), or puts them back with 0.
  void leaveOut(int sockets) { settings.skippedSockets = sockets & 0x1F; }
  void resume() { link.releaseStop(); }
  bool stopped() const { return link.stopHeld(); }

 private:
  OperationResult composed_;
};

}  // namespace tandra
