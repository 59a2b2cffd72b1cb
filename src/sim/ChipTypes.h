#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace tandra::sim {

// How a chip sits in the adapter: the package and the way the programmer's latches and set-up
// reach its pins. Every EPROM type the programmer serves has one of these six.
enum class Pinout {
  Dip24x2K,     // 2716 and its CMOS twin
  Dip24x4K,     // 2732 family
  Dip28x8K16K,  // 2764 and 27128 families
  Dip28x32K,    // 27256
  Dip28x64K,    // 27512
  Dip32x128K,   // 1 and 2 Mbit parts in 32-pin packages
};

// Voltage select codes of the programmer's Vpp supply (the level code is 0xB0 for each).
namespace vpp {
inline constexpr std::uint8_t V25 = 0x0F;
inline constexpr std::uint8_t V21 = 0x1F;
inline constexpr std::uint8_t V12_5 = 0xBF;
inline constexpr std::uint8_t kLevel = 0xB0;
}  // namespace vpp

// What the firmware needs to be told to read and program chips of one pinout.
struct PinoutRules {
  Pinout pinout;
  std::uint8_t setUpAddressBits;  // byte 3 of the set-up command
  // The 28- and 24-pin sockets want the low address latch parked at 0xFF before a set-up;
  // the 32-pin socket must not get it (its low latch lines double as A16/A17 strobes).
  bool parkLowLatch;
  // Bits of the high address latch: which carry A8..A15 (bit n carries A(8+n)), which carry
  // their address line inverted, and which must be held high whatever the address.
  std::uint8_t addressLines;
  std::uint8_t invertedLines;
  std::uint8_t heldHigh;
  // Power byte of the set-up command: the voltage's select code with these bits kept.
  std::uint8_t readPowerKeep;
  std::uint8_t programPowerKeep;
  std::uint8_t programControl;  // base control byte of a program set-up
  std::uint8_t algorithm;       // algorithm code of the program block command
  bool countsUpperAddress;      // A16/A17 come from the firmware's own block counter
};

inline constexpr std::uint8_t kReadControl = 0xED;
inline constexpr std::uint8_t kAlgorithmFlag = 0x01;

inline constexpr std::array<PinoutRules, 6> kPinoutRules{{
    // A11 of the 24-pin 2K socket is its Vpp pin: held high while reading.
    {Pinout::Dip24x2K, 0x08, true, 0x07, 0x00, 0x08, 0x7F, 0xF7, 0x7D, 1, false},
    {Pinout::Dip24x4K, 0x00, true, 0x0F, 0x00, 0x00, 0x7F, 0xF7, 0xFD, 2, false},
    // Pins 26-27 of the 28-pin 8K/16K socket are NC/PGM: held high; A13 is wired inverted.
    {Pinout::Dip28x8K16K, 0xE0, true, 0x1F, 0x20, 0xC0, 0x7F, 0xF1, 0xFD, 3, false},
    {Pinout::Dip28x32K, 0xA0, true, 0x5F, 0x20, 0x80, 0x7F, 0xF7, 0xFD, 4, false},
    {Pinout::Dip28x64K, 0x20, true, 0xDF, 0x20, 0x00, 0x7F, 0xF7, 0xFD, 2, false},
    {Pinout::Dip32x128K, 0x20, false, 0xDF, 0x20, 0x00, 0x7B, 0xF2, 0xFD, 5, true},
}};

const PinoutRules& rulesFor(Pinout pinout);

// One EPROM type as it is printed on the chip.
struct ChipType {
  std::string_view name;
  std::uint32_t size;
  Pinout pinout;
  std::uint8_t vppSelectCode;  // the programming voltage the type is made for
};

inline constexpr std::array<ChipType, 19> kChipTypes{{
    {"2716", 0x800, Pinout::Dip24x2K, vpp::V25},
    {"27C16", 0x800, Pinout::Dip24x2K, vpp::V12_5},
    {"2732", 0x1000, Pinout::Dip24x4K, vpp::V25},
    {"2732A", 0x1000, Pinout::Dip24x4K, vpp::V21},
    {"27C32", 0x1000, Pinout::Dip24x4K, vpp::V12_5},
    {"2764", 0x2000, Pinout::Dip28x8K16K, vpp::V21},
    {"2764A", 0x2000, Pinout::Dip28x8K16K, vpp::V12_5},
    {"27C64", 0x2000, Pinout::Dip28x8K16K, vpp::V12_5},
    {"27128", 0x4000, Pinout::Dip28x8K16K, vpp::V21},
    {"27128A", 0x4000, Pinout::Dip28x8K16K, vpp::V12_5},
    {"27C128", 0x4000, Pinout::Dip28x8K16K, vpp::V12_5},
    {"27256", 0x8000, Pinout::Dip28x32K, vpp::V12_5},
    {"27C256", 0x8000, Pinout::Dip28x32K, vpp::V12_5},
    {"27512", 0x10000, Pinout::Dip28x64K, vpp::V12_5},
    {"27C512", 0x10000, Pinout::Dip28x64K, vpp::V12_5},
    {"27C010", 0x20000, Pinout::Dip32x128K, vpp::V12_5},
    {"27C1001", 0x20000, Pinout::Dip32x128K, vpp::V12_5},
    {"27C020", 0x40000, Pinout::Dip32x128K, vpp::V12_5},
    {"27C2001", 0x40000, Pinout::Dip32x128K, vpp::V12_5},
}};

// The type printed as `name` (any case; "27010" is taken for the 27C010); nullptr for none.
const ChipType* findChipType(std::string_view name);
// The same, throwing std::invalid_argument for an unknown name.
const ChipType& chipType(std::string_view name);

}  // namespace tandra::sim
