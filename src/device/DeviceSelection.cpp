#include "device/DeviceSelection.h"

#include <algorithm>
#include <string>

#include "common/FileError.h"
#include "common/HexText.h"
#include "device/Catalogue.h"
#include "device/ControlStates.h"
#include "device/DeviceSettings.h"
#include "image/ImageBuffer.h"
#include "link/Host.h"
#include "link/Link.h"

namespace tandra {

void DeviceSelection::DeviceClick() {
  states_.BusyState();
  for (int socket = 1; socket <= 5; ++socket) host_.setVisible(socketLabel(socket), false);
  host_.setVisible(Control::Device_Box, true);
}

void DeviceSelection::Device_BoxClick(int row) {
  settings_.deviceListRow = row;
  host_.setVisible(Control::Device_Box, false);
  image_.deviceStartAddress = 0;
  settings_.vppSetting = 3;
  host_.setVisible(Control::Num_Of_Devices, true);
  settings_.deviceFamily = 0;

  if (const DeviceType* type = catalogueEntry(row)) {
    settings_.deviceCaption = std::string(type->caption);
    host_.setCaption(Control::Device, settings_.deviceCaption);
    image_.deviceEndAddress = type->endAddress;
    settings_.deviceFamily = type->family;
    if (type->vppSetting == 1 || type->vppSetting == 2) settings_.vppSetting = type->vppSetting;
  }
  if (settings_.deviceFamily == 0) {
    host_.setVisible(Control::Num_Of_Devices, false);
    settings_.deviceCaption = "No Device";
    host_.setCaption(Control::Device, settings_.deviceCaption);
    host_.showBox(BoxKind::Information, kNoDeviceText, std::nullopt);
    states_.IdleState();
  }
  settings_.pulseEntry.setOwnText(std::string(pulseWidthForFamily(settings_.deviceFamily)));
  showPulseEntry();
  host_.setCaption(Control::Pulse, "Pulse = " + settings_.pulseEntry.text());
  VppStep();
}

void DeviceSelection::Num_Of_DevicesClick(int row) {
  settings_.socketCount = row < 1 ? 1 : std::min(row, 5);
  host_.setCaption(Control::Device,
                   std::to_string(settings_.socketCount) + " - " + settings_.deviceCaption);
  for (int socket = 1; socket <= 5; ++socket) {
    host_.setVisible(socketLabel(socket), socket <= settings_.socketCount);
  }
  host_.setCaption(
      Control::End_Add,
      "End Of Eprom=" + hexText(static_cast<std::uint32_t>(image_.deviceEndAddress), 4));
  states_.IdleState();
}

void DeviceSelection::Vpp_ButClick() {
  if (settings_.vppSetting >= 1 && settings_.vppSetting <= 3) {
    settings_.vppSetting = settings_.vppSetting % 3 + 1;
  }
  VppStep();
}

void DeviceSelection::VppStep() {
  const VppLevel level = vppLevel(settings_.vppSetting);
  if (level.caption != nullptr) host_.setCaption(Control::Vpp_But, level.caption);
  settings_.vppSelectCode = level.selectCode;
  settings_.vppLevelCode = level.levelCode;
  link_.SendVoltage(level.selectCode, level.levelCode);
}

void DeviceSelection::PulseClick() {
  host_.setVisible(Control::P_Edit, true);
  // The entry opens with its text selected: a width typed replaces the one shown.
  settings_.pulseEntry.selectAll();
  host_.setFocus(Control::P_Edit);
}

void DeviceSelection::showPulseEntry() {
  host_.setCaption(Control::P_Edit, settings_.pulseEntry.text());
}

std::optional<std::uint8_t> DeviceSelection::applyPulseWidth() {
  LineEntry& entry = settings_.pulseEntry;
  if (entry.text().empty()) {
    entry.setOwnText("20");
    showPulseEntry();
  }
  const std::optional<int> width = entry.decimalValue();
  if (!width) {
    host_.showBox(BoxKind::Error, boxText(notAnIntegerMessage(entry.text())), std::nullopt);
    return std::nullopt;
  }
  // The programmer takes the width as one byte; a width of 0 or above 255 would go out as a
  // different pulse from the one shown.
  if (*width < 1 || *width > 255) {
    host_.showBox(BoxKind::Error, kPulseRangeText, std::nullopt);
    return std::nullopt;
  }
  host_.setCaption(Control::Pulse, "Pulse = " + entry.text());
  return static_cast<std::uint8_t>(*width);
}

void DeviceSelection::P_EditKeyPress(char character) {
  if (character == LineEntry::kEnter) {
    if (applyPulseWidth()) states_.IdleState();
    return;
  }
  settings_.pulseEntry.type(character);
  showPulseEntry();
}

}  // namespace tandra
