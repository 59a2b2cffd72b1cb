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

inline constexpr std::array kPinoutRules{
    // A11 of the 24-pin 2K socket is its Vpp pin: held high while reading.
    PinoutRules{.pinout = Pinout::Dip24x2K,
                .setUpAddressBits = 0x08,
                .parkLowLatch = true,
                .addressLines = 0x07,
                .invertedLines = 0x00,
                .heldHigh = 0x08,
                .readPowerKeep = 0x7F,
                .programPowerKeep = 0xF7,
                .programControl = 0x7D,
                .algorithm = 1,
                .countsUpperAddress = false},
    PinoutRules{.pinout = Pinout::Dip24x4K,
                .setUpAddressBits = 0x00,
                .parkLowLatch = true,
                .addressLines = 0x0F,
                .invertedLines = 0x00,
                .heldHigh = 0x00,
                .readPowerKeep = 0x7F,
                .programPowerKeep = 0xF7,
                .programControl = 0xFD,
                .algorithm = 2,
                .countsUpperAddress = false},
    // Pins 26-27 of the 28-pin 8K/16K socket are NC/PGM: held high; A13 is wired inverted.
    PinoutRules{.pinout = Pinout::Dip28x8K16K,
                .setUpAddressBits = 0xE0,
                .parkLowLatch = true,
                .addressLines = 0x1F,
                .invertedLines = 0x20,
                .heldHigh = 0xC0,
                .readPowerKeep = 0x7F,
                .programPowerKeep = 0xF1,
                .programControl = 0xFD,
                .algorithm = 3,
                .countsUpperAddress = false},
    PinoutRules{.pinout = Pinout::Dip28x32K,
                .setUpAddressBits = 0xA0,
                .parkLowLatch = true,
                .addressLines = 0x5F,
                .invertedLines = 0x20,
                .heldHigh = 0x80,
                .readPowerKeep = 0x7F,
                .programPowerKeep = 0xF7,
                .programControl = 0xFD,
                .algorithm = 4,
                .countsUpperAddress = false},
    PinoutRules{.pinout = Pinout::Dip28x64K,
                .setUpAddressBits = 0x20,
                .parkLowLatch = true,
                .addressLines = 0xDF,
                .invertedLines = 0x20,
                .heldHigh = 0x00,
                .readPowerKeep = 0x7F,
                .programPowerKeep = 0xF7,
                .programControl = 0xFD,
                .algorithm = 2,
                .countsUpperAddress = false},
    PinoutRules{.pinout = Pinout::Dip32x128K,
                .setUpAddressBits = 0x20,
                .parkLowLatch = false,
                .addressLines = 0xDF,
                .invertedLines = 0x20,
                .heldHigh = 0x00,
                .readPowerKeep = 0x7B,
                .programPowerKeep = 0xF2,
                .programControl = 0xFD,
                .algorithm = 5,
                .countsUpperAddress = true},
};

const PinoutRules& rulesFor(Pinout pinout);

inline constexpr std::uint32_t kKiB = 1024;

// One EPROM type as it is printed on the chip. A new type of a pinout already here is one more
// record below; the host keeps its own record of it (device/Chips.h), never this one.
struct Chip {
  std::string_view name;
  std::uint32_t size;
  Pinout pinout;
  std::uint8_t vppSelectCode;  // the programming voltage the type is made for
};

inline constexpr std::array kChips{
    Chip{.name = "2716", .size = 2 * kKiB, .pinout = Pinout::Dip24x2K, .vppSelectCode = vpp::V25},
    Chip{
        .name = "27C16", .size = 2 * kKiB, .pinout = Pinout::Dip24x2K, .vppSelectCode = vpp::V12_5},
    Chip{.name = "2732", .size = 4 * kKiB, .pinout = Pinout::Dip24x4K, .vppSelectCode = vpp::V25},
    Chip{.name = "2732A", .size = 4 * kKiB, .pinout = Pinout::Dip24x4K, .vppSelectCode = vpp::V21},
    Chip{
        .name = "27C32", .size = 4 * kKiB, .pinout = Pinout::Dip24x4K, .vppSelectCode = vpp::V12_5},
    Chip{
        .name = "2764", .size = 8 * kKiB, .pinout = Pinout::Dip28x8K16K, .vppSelectCode = vpp::V21},
    Chip{.name = "2764A",
         .size = 8 * kKiB,
         .pinout = Pinout::Dip28x8K16K,
         .vppSelectCode = vpp::V12_5},
    Chip{.name = "27C64",
         .size = 8 * kKiB,
         .pinout = Pinout::Dip28x8K16K,
         .vppSelectCode = vpp::V12_5},
    Chip{.name = "27128",
         .size = 16 * kKiB,
         .pinout = Pinout::Dip28x8K16K,
         .vppSelectCode = vpp::V21},
    Chip{.name = "27128A",
         .size = 16 * kKiB,
         .pinout = Pinout::Dip28x8K16K,
         .vppSelectCode = vpp::V12_5},
    Chip{.name = "27C128",
         .size = 16 * kKiB,
         .pinout = Pinout::Dip28x8K16K,
         .vppSelectCode = vpp::V12_5},
    Chip{.name = "27256",
         .size = 32 * kKiB,
         .pinout = Pinout::Dip28x32K,
         .vppSelectCode = vpp::V12_5},
    Chip{.name = "27C256",
         .size = 32 * kKiB,
         .pinout = Pinout::Dip28x32K,
         .vppSelectCode = vpp::V12_5},
    Chip{.name = "27512",
         .size = 64 * kKiB,
         .pinout = Pinout::Dip28x64K,
         .vppSelectCode = vpp::V12_5},
    Chip{.name = "27C512",
         .size = 64 * kKiB,
         .pinout = Pinout::Dip28x64K,
         .vppSelectCode = vpp::V12_5},
    Chip{.name = "27C010",
         .size = 128 * kKiB,
         .pinout = Pinout::Dip32x128K,
         .vppSelectCode = vpp::V12_5},
    Chip{.name = "27C1001",
         .size = 128 * kKiB,
         .pinout = Pinout::Dip32x128K,
         .vppSelectCode = vpp::V12_5},
    Chip{.name = "27C020",
         .size = 256 * kKiB,
         .pinout = Pinout::Dip32x128K,
         .vppSelectCode = vpp::V12_5},
    Chip{.name = "27C2001",
         .size = 256 * kKiB,
         .pinout = Pinout::Dip32x128K,
         .vppSelectCode = vpp::V12_5},
};

// The type printed as `name` (any case; "27010" is taken for the 27C010); nullptr for none.
const Chip* findChip(std::string_view name);
// The same, throwing std::invalid_argument for an unknown name.
const Chip& chipNamed(std::string_view name);

}  // namespace tandra::sim
