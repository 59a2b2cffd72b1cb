#pragma once

#include <cstdint>
#include <optional>

namespace tandra {

class ControlStates;
class Host;
class ImageBuffer;
class Link;
struct DeviceSettings;

// Choosing the device type, the socket count, the programming voltage and the pulse width.
class DeviceSelection {
 public:
  static constexpr const char* kNoDeviceText = "No Device Was Selected.";
  static constexpr const char* kPulseRangeText = "Pulse Width Must Be 1 To 255.";

  DeviceSelection(Host& host, Link& link, ImageBuffer& image, DeviceSettings& settings,
                  ControlStates& states)
      : host_(host), link_(link), image_(image), settings_(settings), states_(states) {}

  void DeviceClick();
  // `row` is the clicked row of the device list, -1 when none is selected.
  void Device_BoxClick(int row);
  // `row` is the clicked row of the count list ("# of Devices", "1" ... "5").
  void Num_Of_DevicesClick(int row);
  void Vpp_ButClick();
  // Shows the Vpp setting on its button and sends it to an identified programmer.
  void VppStep();
  void PulseClick();
  void P_EditKeyPress(char character);

  // Applies the pulse entry as Enter does and gives the width; nothing (with the error box
  // shown) when the entry holds no width the programmer can take.
  std::optional<std::uint8_t> applyPulseWidth();

 private:
  void showPulseEntry();

  Host& host_;
  Link& link_;
  ImageBuffer& image_;
  DeviceSettings& settings_;
  ControlStates& states_;
};

}  // namespace tandra
