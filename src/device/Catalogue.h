#pragma once

#include <array>
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
