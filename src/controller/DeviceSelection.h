#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "image/LineEntry.h"

namespace tandra {

class Panel;
class Session;

// The window's handlers for the device type, the socket count, the programming voltage and the
// pulse width: their pop-up lists, entry and captions over the session's settings.
class DeviceSelection {
 public:
  static constexpr std::string_view kPulseDigits = "1234567890";

  DeviceSelection(Panel& panel, Session& session) : panel_(panel), session_(session) {}

  void DeviceClick();
  // `row` is the clicked row of the device list, -1 when none is selected.
  void Device_BoxClick(int row);
  // `row` is the clicked row of the count list ("# of Devices", "1" ... "5").
  void Num_Of_DevicesClick(int row);
  // Escape in the lists: the window returns to where it was before the list opened. The lists
  // of the very first choice stay up until a choice is made: there is nothing to return to.
  void Device_BoxEscape();
  void Num_Of_DevicesEscape();
  // A pulse width and a voltage the operator chose for this type in an earlier run, put back
  // as if chosen again; a width the programmer cannot take, or a voltage setting out of 1 to 3,
  // is passed over.
  void restoreWidthAndVoltage(int pulseWidth, int vppSetting);
  void Vpp_ButClick();
  void PulseClick();
  void P_EditKeyPress(char character);

  // Applies the pulse entry as Enter does and gives the width; nothing (with the error box
  // shown) when the entry holds no width the programmer can take.
  std::optional<std::uint8_t> applyPulseWidth();

  // The pulse width entry: digits only, three at most.
  LineEntry pulseEntry{3, kPulseDigits, "40"};

 private:
  void showPulseEntry();

  // What the pulse entry held when it opened: Escape puts it back.
  std::string pulseBeforeEntry_;

  Panel& panel_;
  Session& session_;
};

}  // namespace tandra
