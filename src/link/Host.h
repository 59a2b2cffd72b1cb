#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tandra {

enum class BoxKind { Error, Information, Warning };

// Screen position of a message box's top-left corner; no position means centred on the screen.
struct ScreenPoint {
  int left = 0;
  int top = 0;
};

// Where a device operation has got: `done` of `total` addresses after `elapsedMs`.
struct Progress {
  std::string operation;  // the operation's button words, "Verify Device"
  std::int64_t done = 0;
  std::int64_t total = 0;
  std::int64_t elapsedMs = 0;
  // `done` and `total` count update records, not device addresses.
  bool countsRecords = false;
};

// What every front end gives the work it runs: time, its own business while the work waits,
// and the status log.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Let the front end handle what is pending (repaint, Quit, the watchdog timer, close).
  virtual void processMessages() = 0;
  // The same, then a wait of up to `milliseconds` that leaves the processor to others while
  // nothing happens; what comes meanwhile (a click, the watchdog) is handled as it comes.
  virtual void waitForEvents(int milliseconds) = 0;
  // The reply watchdog: once started it fires after 3,000 ms unless stopped first; firing
  // calls Link::Timer1Timer.
  virtual void startWatchdog() = 0;
  virtual void stopWatchdog() = 0;
  // Block the thread without handling anything else.
  virtual void sleepMs(int milliseconds) = 0;
  // Milliseconds on a clock that only moves forward, for timing an operation.
  virtual std::int64_t monotonicMs() = 0;

  // The status log: insertLogLine puts the newest line on top.
  virtual void insertLogLine(const std::string& text) = 0;
  virtual void appendLogLine(const std::string& text) = 0;
  virtual void clearLog() = 0;
};

// What the core tells a front end and asks of it, in the core's own words and values, by
// concern: the status, the progress of the running work, and the operator's boxes and
// questions. The window shows each event on its controls and makes their captions; the
// command-line program turns them into lines; tests record them. A front end implements what it
// shows: doing nothing is right for every event that has a body here. The core never touches a
// widget, never prints and never exits.
class StatusView {
 public:
  virtual ~StatusView() = default;
  // Whether the status log is in view.
  virtual void showLog(bool /*shown*/) {}
  // The programmer's status: found with its firmware, an operation's end, where it stopped.
  virtual void showStatus(const std::string& /*text*/) {}
  // What to do about the status (how to look for the programmer again); empty for nothing.
  virtual void showStatusAdvice(const std::string& /*text*/) {}
  // Work begins: nothing else may be started until it ends.
  virtual void showBusy() {}
  // Work has ended; `programmerReached`: the device operations have a programmer to work on.
  virtual void showIdle(bool /*programmerReached*/) {}
};

class ProgressView {
 public:
  virtual ~ProgressView() = default;
  // A device operation begins: it can be stopped from now on, and `note` says what it does.
  virtual void showOperation(const std::string& /*note*/) {}
  // Where the running work has got: a device address, or the address an update record loads.
  virtual void showAddress(std::uint32_t /*address*/) {}
  // How far the running operation has got, and for how long it has run.
  virtual void showProgress(const Progress& /*progress*/) {}
  // The work whose progress was shown is over, and its progress goes from view.
  virtual void showProgressEnd() {}
};

class OperatorDialogs {
 public:
  virtual ~OperatorDialogs() = default;
  virtual void showMessage(BoxKind kind, const std::string& text,
                           std::optional<ScreenPoint> topLeft) = 0;
  // A yes-or-no question: every front end answers it, one way or the other.
  virtual bool askQuestion(const std::string& text, std::optional<ScreenPoint> topLeft) = 0;
  // The firmware update file to use; nothing to use none.
  virtual std::optional<std::string> chooseUpdateFile() { return std::nullopt; }
};

// What the link's parts (the USB unit, the packets, the search and the firmware update) ask of
// a front end. A session asks for the sockets' view besides (device/SocketView.h).
class Host : public FrontEnd, public StatusView, public ProgressView, public OperatorDialogs {};

}  // namespace tandra
