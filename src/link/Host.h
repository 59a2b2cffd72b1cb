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

// The window's controls that the core writes captions to or shows and hides, by their names.
enum class Control {
  Memo1,          // status log
  StaticText2,    // progress note
  StaticText3,    // programmer status line
  StaticText4,    // last file loaded
  Quit_Func_But,  // progress address, stops an operation
  Device_1,       // socket labels 1 to 5
  Device_2,
  Device_3,
  Device_4,
  Device_5,
  Device,  // device type button
  Vpp_But,
  Pulse,
  P_Edit,
  Chk_Sum_But,
  End_Add,
  File_But,
  Device_Box,
  Num_Of_Devices,
  File_Type,
  FillBox,
  FillEdit,
  Edit_1,
  Chg_Edit_Add,
  Progress,  // how far the running operation has got
};

constexpr Control socketLabel(int socket) {
  return static_cast<Control>(static_cast<int>(Control::Device_1) + socket - 1);
}

std::string_view controlName(Control control);

// Where a device operation has got: `done` of `total` addresses after `elapsedMs`.
struct Progress {
  std::string operation;  // the operation's button words, "Verify Device"
  std::int64_t done = 0;
  std::int64_t total = 0;
  std::int64_t elapsedMs = 0;
};

// What the core asks of the window. The GUI implements it with Qt; tests and command-line
// front ends implement it without a window. The core never touches a widget directly.
class Host {
 public:
  virtual ~Host() = default;

  // Let the window handle what is pending (repaint, Quit, the watchdog timer, close).
  virtual void processMessages() = 0;
  // The reply watchdog: once started it fires after 3,000 ms unless stopped first; firing
  // calls Link::Timer1Timer.
  virtual void startWatchdog() = 0;
  virtual void stopWatchdog() = 0;
  // Block the thread without handling window messages.
  virtual void sleepMs(int milliseconds) = 0;
  // Milliseconds on a clock that only moves forward, for timing an operation.
  virtual std::int64_t monotonicMs() = 0;

  // The status log: insertLogLine puts the newest line on top.
  virtual void insertLogLine(const std::string& text) = 0;
  virtual void appendLogLine(const std::string& text) = 0;
  virtual void clearLog() = 0;

  virtual void setCaption(Control control, const std::string& text) = 0;
  // The hint a control shows when the pointer rests on it (empty: none).
  virtual void setHint(Control control, const std::string& text) = 0;
  virtual void setVisible(Control control, bool visible) = 0;
  virtual void setFocus(Control control) = 0;

  // The window's part of the busy and idle states.
  virtual void disableAllButtons() = 0;
  // Enables every button; the five device operations and the Vpp button only when
  // `operationButtons` is true (otherwise they keep their state).
  virtual void enableButtons(bool operationButtons) = 0;
  virtual void enableQuitButton() = 0;

  // A socket's result: marked as failed, or back to the look of one that has not failed.
  virtual void showSocketFailed(int socket, bool failed) = 0;
  // The running operation's progress (Control::Progress shows it).
  virtual void showProgress(const Progress& progress) = 0;

  // Modal boxes and the open-file dialog.
  virtual void showBox(BoxKind kind, const std::string& text,
                       std::optional<ScreenPoint> topLeft) = 0;
  virtual bool askYesNo(const std::string& text, std::optional<ScreenPoint> topLeft) = 0;
  virtual std::optional<std::string> openFileDialog() = 0;
};

}  // namespace tandra
