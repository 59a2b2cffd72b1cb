#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tandra {

// The rows of the device list, in order; a click records the row index.
inline constexpr std::array<std::string_view, 32> kDeviceListRows{
    "                Eprom's",
    "2716   (+5 Only)   (25V)        2K X 8",
    "27C16              (12.5V)      2K X 8",
    "",
    "2732               (25V)        4K X 8",
    "2732A              (21V)        4K X 8",
    "27C32              (12.5V)      4K X 8",
    "",
    "2764               (21V)        8K X 8",
    "2764A              (12.5V)      8K X 8",
    "27C64              (12.5V)      8K X 8",
    "",
    "27128              (21V)       16K X 8",
    "27128A             (12.5V)     16K X 8",
    "27C128             (12.5V)     16K X 8",
    "",
    "27256              (12.5V)     32K X 8",
    "27C256             (12.5V)     32K X 8",
    "",
    "27512              (12.5V)     64K X 8",
    "27C512             (12.5V)     64K X 8",
    "",
    "27C010             (12.5V)    128K X 8",
    "27C1001            (12.5V)    128K X 8",
    "",
    "27C020             (12.5V)    256K X 8",
    "27C2001            (12.5V)    256K X 8",
    "",
    "               EEprom's 5 Volts",
    "28(C)16                         2K X 8",
    "28(C)64                         8K X 8",
    "28(C)256                       32K X 8",
};

}  // namespace tandra

namespace tandra {

// A device type: what a row of the device list selects.
struct DeviceType {
  int row;
  std::string_view caption;  // the Device button's caption
  std::int32_t endAddress;   // device size - 1
  int family;                // selects the engine's address and set-up rules
  int vppSetting;            // 1: 25 V, 2: 21 V, 3: 12.5 V
};

// The UV EPROMs. Headers, empty rows and the 5-volt EEPROM rows select nothing.
inline constexpr std::array<DeviceType, 19> kCatalogue{{
    {1, "2716", 0x007FF, 1, 1},     {2, "27C16", 0x007FF, 1, 3},    {4, "2732", 0x00FFF, 2, 1},
    {5, "2732A", 0x00FFF, 2, 2},    {6, "27C32", 0x00FFF, 2, 3},    {8, "2764", 0x01FFF, 3, 2},
    {9, "2764A", 0x01FFF, 3, 3},    {10, "27C64", 0x01FFF, 3, 3},   {12, "27128", 0x03FFF, 3, 2},
    {13, "27128A", 0x03FFF, 3, 3},  {14, "27C128", 0x03FFF, 3, 3},  {16, "27256", 0x07FFF, 4, 3},
    {17, "27C256", 0x07FFF, 4, 3},  {19, "27512", 0x0FFFF, 5, 3},   {20, "27C512", 0x0FFFF, 5, 3},
    {22, "27010", 0x1FFFF, 6, 3},   {23, "27C1001", 0x1FFFF, 6, 3}, {25, "27C020", 0x3FFFF, 6, 3},
    {26, "27C2001", 0x3FFFF, 6, 3},
}};

constexpr const DeviceType* catalogueEntry(int row) {
  for (const DeviceType& type : kCatalogue) {
    if (type.row == row) return &type;
  }
  return nullptr;
}

// The programming pulse width each family starts with.
constexpr std::string_view pulseWidthForFamily(int family) {
  switch (family) {
    case 1:
      return "40";
    case 2:
      return "10";
    case 6:
      return "2";
    default:
      return "5";
  }
}

}  // namespace tandra
