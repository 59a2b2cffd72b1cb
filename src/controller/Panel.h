#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "device/SocketView.h"

namespace tandra {

// The window's controls that its handlers write captions to or show and hide, by their names.
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

// The window as its handlers see it: controls by name, the window system's boxes and dialogs,
// and its timer and message pump. The GUI implements it with Qt; tests implement it without a
// window. The core's events reach it through PanelHost.
// (The watchdog is Timer1; the status log is Memo1.)
class Panel : public FrontEnd {
 public:
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

  // A socket label's look: plain, marked as failed, or greyed as left out.
  virtual void showSocketLook(int socket, SocketLook look) = 0;
  // The running operation's progress (Control::Progress shows it).
  virtual void showProgress(const Progress& progress) = 0;

  // Modal boxes and the open-file dialog.
  virtual void showBox(BoxKind kind, const std::string& text,
                       std::optional<ScreenPoint> topLeft) = 0;
  virtual bool askYesNo(const std::string& text, std::optional<ScreenPoint> topLeft) = 0;
  virtual std::optional<std::string> openFileDialog() = 0;
};

}  // namespace tandra
