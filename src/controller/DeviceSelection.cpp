#include "controller/DeviceSelection.h"

#include <algorithm>
#include <string>

#include "common/FileError.h"
#include "common/HexText.h"
#include "controller/Panel.h"
#include "device/Session.h"

namespace tandra {

void DeviceSelection::DeviceClick() {
  session_.enterBusyState();
  for (int socket = 1; socket <= 5; ++socket) panel_.setVisible(socketLabel(socket), false);
  panel_.setVisible(Control::Device_Box, true);
}

void DeviceSelection::Device_BoxClick(int row) {
  panel_.setVisible(Control::Device_Box, false);
  panel_.setVisible(Control::Num_Of_Devices, true);
  if (session_.chooseType(row) != nullptr) {
    panel_.setCaption(Control::Device, session_.settings().deviceCaption);
  } else {
    panel_.setVisible(Control::Num_Of_Devices, false);
    panel_.setCaption(Control::Device, session_.settings().deviceCaption);
    panel_.showBox(BoxKind::Information, Operations::kNoDeviceText, std::nullopt);
    session_.enterIdleState();
  }
  pulseEntry.setOwnText(std::to_string(session_.settings().pulseWidth));
  showPulseEntry();
  panel_.setCaption(Control::Pulse, "Pulse = " + pulseEntry.text());
  session_.setVpp(session_.settings().vppSetting);  // the type's voltage shown and sent
}

void DeviceSelection::Num_Of_DevicesClick(int row) {
  session_.chooseSocketCount(row);
  const int count = session_.settings().socketCount;
  panel_.setCaption(Control::Device,
                    std::to_string(count) + " - " + session_.settings().deviceCaption);
  for (int socket = 1; socket <= 5; ++socket) {
    panel_.setVisible(socketLabel(socket), socket <= count);
  }
  panel_.setCaption(
      Control::End_Add,
      "End Of Eprom=" + hexText(static_cast<std::uint32_t>(session_.image().deviceEndAddress), 4));
  session_.enterIdleState();
}

void DeviceSelection::Device_BoxEscape() {
  if (session_.settings().deviceFamily == 0) return;
  panel_.setVisible(Control::Device_Box, false);
  for (int socket = 1; socket <= 5; ++socket) {
    panel_.setVisible(socketLabel(socket), socket <= session_.settings().socketCount);
  }
  session_.enterIdleState();
}

void DeviceSelection::Num_Of_DevicesEscape() {
  // The type was chosen when this list opened: its captions are written with the count kept.
  if (session_.settings().socketCount == 0) return;
  Num_Of_DevicesClick(session_.settings().socketCount);
}

void DeviceSelection::restoreWidthAndVoltage(int pulseWidth, int vppSetting) {
  try {
    session_.setPulseWidth(pulseWidth);
    pulseEntry.setOwnText(std::to_string(pulseWidth));
    showPulseEntry();
    panel_.setCaption(Control::Pulse, "Pulse = " + pulseEntry.text());
  } catch (const SettingError&) {
  }
  if (vppSetting >= 1 && vppSetting <= 3) session_.setVpp(vppSetting);
}

void DeviceSelection::Vpp_ButClick() {
  const int setting = session_.settings().vppSetting;
  session_.setVpp(setting >= 1 && setting <= 3 ? setting % 3 + 1 : setting);
}

void DeviceSelection::PulseClick() {
  panel_.setVisible(Control::P_Edit, true);
  pulseBeforeEntry_ = pulseEntry.text();
  // The entry opens with its text selected: a width typed replaces the one shown.
  pulseEntry.selectAll();
  panel_.setFocus(Control::P_Edit);
}

void DeviceSelection::showPulseEntry() {
  panel_.setCaption(Control::P_Edit, pulseEntry.text());
}

std::optional<std::uint8_t> DeviceSelection::applyPulseWidth() {
  if (pulseEntry.text().empty()) {
    pulseEntry.setOwnText("20");
    showPulseEntry();
  }
  const std::optional<int> width = pulseEntry.decimalValue();
  if (!width) {
    panel_.showBox(BoxKind::Error, boxText(notAnIntegerMessage(pulseEntry.text())), std::nullopt);
    return std::nullopt;
  }
  try {
    session_.setPulseWidth(*width);
  } catch (const SettingError& error) {
    panel_.showBox(BoxKind::Error, error.what(), std::nullopt);
    return std::nullopt;
  }
  panel_.setCaption(Control::Pulse, "Pulse = " + pulseEntry.text());
  return session_.settings().pulseWidth;
}

void DeviceSelection::P_EditKeyPress(char character) {
  if (character == LineEntry::kEnter) {
    if (applyPulseWidth()) session_.enterIdleState();
    return;
  }
  if (character == LineEntry::kEscape) {
    pulseEntry.setOwnText(pulseBeforeEntry_);
    showPulseEntry();
    panel_.setVisible(Control::P_Edit, false);
    return;
  }
  pulseEntry.type(character);
  showPulseEntry();
}

}  // namespace tandra
