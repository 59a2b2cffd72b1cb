#pragma once

#include <cstdint>
#include <string>

namespace tandra {

// The programming voltage: its button caption and the two codes of the voltage command.
struct VppLevel {
  const char* volts;  // as the data sheets write them: "12.5"
  std::uint8_t selectCode;
  std::uint8_t levelCode;
};

// Settings 1 to 5; anything else sends the codes of 4 and 5 and leaves the caption alone
// (volts nullptr).
VppLevel vppLevel(int vppSetting);

// What the operator has chosen for the devices in the sockets.
struct DeviceSettings {
  int deviceListRow = 0;      // the row last clicked in the device list, -1 for none
  std::string deviceCaption;  // the chosen type's caption, without the socket count
  int deviceFamily = 0;       // 0: no device type chosen
  int socketCount = 0;
  // The sockets left out of the operations (bit s-1 for socket s): they are sent nothing.
  int skippedSockets = 0;
  int vppSetting = 1;
  std::uint8_t vppSelectCode = 0;
  std::uint8_t vppLevelCode = 0;
  std::uint8_t pulseWidth = 40;  // what Program sends; the type's own width once one is chosen
};

}  // namespace tandra
