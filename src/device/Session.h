#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "device/BufferHistory.h"
#include "device/Catalogue.h"
#include "device/ControlStates.h"
#include "device/DeviceSettings.h"
#include "device/Engine.h"
#include "device/Operations.h"
#include "device/SocketImages.h"
#include "device/SocketView.h"
#include "files/FormatGuess.h"
#include "files/Loaders.h"
#include "image/ImageBuffer.h"
#include "link/D2XXUnit.h"
#include "link/Discovery.h"
#include "link/FirmwareUpdate.h"
#include "link/FirstContact.h"
#include "link/Link.h"

namespace tandra {

class FtApi;
class InputFile;
class Trace;

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

  Session(FtApi& api, SessionHost& host);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // --- The programmer ---
  // Looks for the programmer (the one with this serial number, or else the only one attached)
  // and asks for its firmware version; true when it answered. Firmware older than 1.20 is
  // offered the update through the host's question.
  bool connect(const std::string& serial = {});
  bool connected() const { return link_.connectionState == kIdentified && !link_.programmerLost(); }
  // Idles the programmer and lets it go, as closing the window does.
  void close();
  // What the last search found: the firmware's version ("1.20", 120) and the driver used.
  std::string firmwareVersionText() const { return discovery_.firmwareVersionText(); }
  int firmwareVersionNumber() const { return discovery_.firmwareVersionNumber(); }
  std::string driverName() const { return usb_.driverName(); }
  // The programmers on the bus as their USB chips give them; nothing is opened.
  struct Attached {
    std::string serial;
    std::string description;
  };
  std::vector<Attached> attached();
  // Every reply is read to its full length, for a firmware that pauses inside a reply.
  void setFullWaits(bool on) { link_.fullWaits = on; }
  // The start-up search's facts go into `trace` as well.
  void setTrace(Trace* trace) { discovery_.trace = trace; }
  // The front end's reply watchdog fired: the reply waited for is lost.
  void watchdogFired() { link_.Timer1Timer(); }
  // For the first-contact check: the USB chip's latency timer, the quiet period the waits
  // take from it, and the identify reply as it comes, with the protocol's full wait.
  std::uint32_t latencyTimerMs() const { return usb_.latencyTimerMs(); }
  int quietPeriodMs() const { return link_.quietPeriodMs(); }
  IdentifyProbe probeIdentify() { return tandra::probeIdentify(link_); }
  // After a firmware update the programmer restarts: the search that follows the update's
  // restart command is pending until findAfterRestart() has run.
  bool restartPending() const { return restartPending_; }
  // Looks for the restarting programmer until it answers, for up to 10 s of its restart, as a
  // click on the status line would, but quietly: a look that finds it still starting opens no
  // box and logs no lost programmer. True when it answered; false when it did not, or a stop
  // was asked meanwhile.
  bool findAfterRestart(const std::string& serial = {});
  // How the last search for the programmer ended.
  Discovery::Outcome searchOutcome() const { return discovery_.outcome(); }
  int devicesCounted() const { return discovery_.devicesCounted(); }
  std::uint8_t identifyStatus() const { return discovery_.identifyStatus(); }

  // --- Settings ---
  // The row of the device list: the address window, the family, and the type's own voltage and
  // pulse width. Nothing is sent. nullptr (and no device) for a row that selects no type.
  const Chip* chooseType(int row);
  // The sockets in use: 1 to 5 (below 1 counts as 1, above 5 as 5).
  void chooseSocketCount(int sockets);
  // A type and its sockets, with the type's voltage sent to the programmer.
  void select(const Chip& type, int sockets);
  // 1 to 255; any other width throws SettingError.
  void setPulseWidth(int width);
  // 1: 25 V, 2: 21 V, 3: 12.5 V; sent to the programmer.
  void setVpp(int vppSetting);
  // Leaves sockets out of the operations (bit s-1 for socket s), or puts them back with 0.
  void leaveOut(int sockets) { settings_.skippedSockets = sockets & 0x1F; }
  // What is chosen now.
  DeviceSettings settings() const { return settings_; }
  // The sockets the next operation starts with (bit s-1 for socket s).
  int socketsInUse() const { return engine_.socketsInUse(); }

  // --- The image ---
  // The image buffer and its address window, which the operations program and judge by.
  ImageBuffer& image() { return image_; }
  const ImageBuffer& image() const { return image_; }
  // Every byte of the address window set to `byte`, as the Fill button and a blank do.
  void fillImage(std::uint8_t byte);
  // Loads an open file, named `name`, into the image buffer in the format chosen, over the
  // type's address window, or over a bus `busLanes` chips wide (2 or 4) whose lanes sockets
  // take. Bytes the file does not set keep what the buffer held. Failures throw FileError
  // naming the file; the bytes stored before stay.
  LoadReport load(InputFile& file, const std::string& name, const FormatChoice& choice,
                  int busLanes = 0);
  // What the buffer's address window holds, by where its bytes came from: "B.bin over A.bin",
  // "edits over A.bin"; empty when no file set a byte of it. And what those loads met.
  std::string bufferName(bool fileNamesOnly = false) const {
    return history_.name(image_.deviceEndAddress, fileNamesOnly);
  }
  ImageStanding bufferStanding() const { return history_.standing(image_.deviceEndAddress); }
  // Bytes were typed into the buffer (the hex view).
  void noteEdited() { history_.edited(); }
  // Saves the address window in `format`; failures throw FileError and keep the old file.
  void save(const std::string& path, FileFormat format) const;
  // The same, written to an open descriptor (standard output) as it stands.
  void saveTo(int descriptor, FileFormat format) const;
  // What each socket holds when it is not the image buffer.
  SocketImages& socketImages() { return socketImages_; }
  const SocketImages& socketImages() const { return socketImages_; }
  std::uint16_t checksum() const;

  // --- Work ---
  // Runs one operation to its end (or its stop) and gives every socket's result.
  const OperationResult& run(Operation operation);
  // Program Compare first, then Program for the sockets that can take their image; the others
  // get no pulse and stand failed as Program Compare found them ("Can`t Be Programed").
  const OperationResult& programWhereItCan();
  // Reads one socket into the image buffer, as Move Device #1 reads socket 1.
  const OperationResult& read(int socket);
  // Quit: the running operation stops where it is, as the window's Quit button stops it.
  void quit() { link_.Quit(); }
  // Stops the running operation where Quit would, and makes every later one end at once with
  // nothing sent, until resume(). The idle command that follows every operation does not clear
  // this stop, as it clears a Quit.
  void stop() { link_.holdStop(); }
  void resume() { link_.releaseStop(); }
  bool stopped() const { return link_.stopHeld(); }

  // The result of the last operation that ran.
  const OperationResult& lastResult() const { return operations_.lastResult(); }
  // The checksum of the address window shown, as the Checksum button shows it, ending idle.
  void showChecksum() { operations_.showChecksum(); }

  // --- The window's own work ---
  // A list, an entry or a dialog of the window opens in the busy state and closes in the idle
  // state, as every operation does: the idle command is sent, the sockets in use are counted
  // afresh from the socket count, and the front end is told.
  void enterBusyState() { states_.BusyState(); }
  void enterIdleState() { states_.IdleState(); }
  // What the front end does when a reply is lost (the window puts its hex view's cursor back on
  // the first row).
  void whenReplyLost(std::function<void()> then) { link_.onReplyLost = std::move(then); }

  // Where the session's events go, and its clock.
  SessionHost& host() const { return host_; }

 private:
  // A chip read into the buffer from `socket`, all of it or up to where the read stopped.
  void noteRead(int socket);

  // The parts, each built after the ones it works with.
  SessionHost& host_;
  D2XXUnit usb_;
  Link link_;
  Discovery discovery_;
  FirmwareUpdate firmware_;
  ImageBuffer image_;
  SocketImages socketImages_{image_};
  DeviceSettings settings_;
  Engine engine_;
  ControlStates states_;
  Operations operations_;
  OperationResult composed_;
  BufferHistory history_;
  bool restartPending_ = false;
};

}  // namespace tandra
