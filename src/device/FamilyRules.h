#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace tandra {

// The families of the listed types, each named for its first member. The numbers are the ones
// DeviceSettings::deviceFamily has always held (0: no type chosen).
namespace family {
inline constexpr int k2716 = 1;    // 24 pins, 2K
inline constexpr int k2732 = 2;    // 24 pins, 4K
inline constexpr int k2764 = 3;    // 28 pins, 8K and 16K
inline constexpr int k27256 = 4;   // 28 pins, 32K
inline constexpr int k27512 = 5;   // 28 pins, 64K
inline constexpr int k27C010 = 6;  // 32 pins, 128K and 256K
}  // namespace family

// How the high-address byte is formed from H, bits 8 to 15 of the address.
enum class HighAddressRule {
  Unchanged,         // keeps the value of the last block
  OrAddressBits,     // H | family address bits
  Plain,             // H
  FlipA13SetA14A15,  // (H ^ 0x20) | 0xC0
  FlipA13SetA15,     // (H ^ 0x20) | 0x80
  FlipA13,           // H ^ 0x20
  Masked,            // ((H & 0x3F) ^ 0x20) | 0x40, | 0x80 for address bit 14
};

// What the engine does differently per device family: the set-up bytes, the way an address is
// placed on the latches, and the programming algorithm the firmware is told to use.
struct FamilyRules {
  int family;
  std::optional<std::uint8_t> familyAddressBits;  // none: keep those of the previous set-up
  std::uint8_t readPowerMask;                     // ANDed with the Vpp select code
  std::uint8_t programPowerMask;
  std::uint8_t programBaseControl;
  HighAddressRule highAddress;
  bool controlFromUpperAddress;  // the 128K/256K control byte formula
  bool controlFromA15A16;        // control byte | 0x04 for bit 15, | 0x01 for bit 16
  std::uint8_t algorithmCode;
  std::uint8_t algorithmFlag;
  bool lowLatchAllOnes;  // the set-up starts from a low-address latch of all ones
};

// The rules of a family no listed type selects (and of no type chosen): the high-address byte
// keeps whatever the last block left.
inline constexpr FamilyRules kOtherFamily{.family = 0,
                                          .familyAddressBits = std::nullopt,
                                          .readPowerMask = 0x7F,
                                          .programPowerMask = 0xF7,
                                          .programBaseControl = 0xFD,
                                          .highAddress = HighAddressRule::Unchanged,
                                          .controlFromUpperAddress = false,
                                          .controlFromA15A16 = false,
                                          .algorithmCode = 0,
                                          .algorithmFlag = 0x01,
                                          .lowLatchAllOnes = true};

// One record per family: the chips' records name their family, never these bytes.
inline constexpr std::array kFamilyRules{
    FamilyRules{.family = family::k2716,
                .familyAddressBits = 0x08,
                .readPowerMask = 0x7F,
                .programPowerMask = 0xF7,
                .programBaseControl = 0x7D,
                .highAddress = HighAddressRule::OrAddressBits,
                .controlFromUpperAddress = false,
                .controlFromA15A16 = false,
                .algorithmCode = 1,
                .algorithmFlag = 0x01,
                .lowLatchAllOnes = true},
    FamilyRules{.family = family::k2732,
                .familyAddressBits = 0x00,
                .readPowerMask = 0x7F,
                .programPowerMask = 0xF7,
                .programBaseControl = 0xFD,
                .highAddress = HighAddressRule::Plain,
                .controlFromUpperAddress = false,
                .controlFromA15A16 = false,
                .algorithmCode = 2,
                .algorithmFlag = 0x01,
                .lowLatchAllOnes = true},
    FamilyRules{.family = family::k2764,
                .familyAddressBits = 0xE0,
                .readPowerMask = 0x7F,
                .programPowerMask = 0xF1,
                .programBaseControl = 0xFD,
                .highAddress = HighAddressRule::FlipA13SetA14A15,
                .controlFromUpperAddress = false,
                .controlFromA15A16 = false,
                .algorithmCode = 3,
                .algorithmFlag = 0x01,
                .lowLatchAllOnes = true},
    FamilyRules{.family = family::k27256,
                .familyAddressBits = 0xA0,
                .readPowerMask = 0x7F,
                .programPowerMask = 0xF7,
                .programBaseControl = 0xFD,
                .highAddress = HighAddressRule::FlipA13SetA15,
                .controlFromUpperAddress = false,
                .controlFromA15A16 = false,
                .algorithmCode = 4,
                .algorithmFlag = 0x01,
                .lowLatchAllOnes = true},
    FamilyRules{.family = family::k27512,
                .familyAddressBits = 0x20,
                .readPowerMask = 0x7F,
                .programPowerMask = 0xF7,
                .programBaseControl = 0xFD,
                .highAddress = HighAddressRule::FlipA13,
                .controlFromUpperAddress = false,
                .controlFromA15A16 = false,
                .algorithmCode = 2,
                .algorithmFlag = 0x01,
                .lowLatchAllOnes = true},
    FamilyRules{.family = family::k27C010,
                .familyAddressBits = 0x20,
                .readPowerMask = 0x7B,
                .programPowerMask = 0xF2,
                .programBaseControl = 0xFD,
                .highAddress = HighAddressRule::FlipA13,
                .controlFromUpperAddress = true,
                .controlFromA15A16 = false,
                .algorithmCode = 5,
                .algorithmFlag = 0x01,
                .lowLatchAllOnes = false},
    // Families 10 to 13 are selected by no row of the device list; the engine keeps their rules.
    FamilyRules{.family = 10,
                .familyAddressBits = 0x08,
                .readPowerMask = 0x7F,
                .programPowerMask = 0xF7,
                .programBaseControl = 0xFD,
                .highAddress = HighAddressRule::OrAddressBits,
                .controlFromUpperAddress = false,
                .controlFromA15A16 = false,
                .algorithmCode = 10,
                .algorithmFlag = 0x01,
                .lowLatchAllOnes = false},
    FamilyRules{.family = 11,
                .familyAddressBits = 0x60,
                .readPowerMask = 0x7F,
                .programPowerMask = 0xF7,
                .programBaseControl = 0xFD,
                .highAddress = HighAddressRule::Masked,
                .controlFromUpperAddress = false,
                .controlFromA15A16 = false,
                .algorithmCode = 11,
                .algorithmFlag = 0x01,
                .lowLatchAllOnes = false},
    FamilyRules{.family = 12,
                .familyAddressBits = std::nullopt,
                .readPowerMask = 0x7F,
                .programPowerMask = 0xF7,
                .programBaseControl = 0xFD,
                .highAddress = HighAddressRule::Masked,
                .controlFromUpperAddress = false,
                .controlFromA15A16 = false,
                .algorithmCode = 12,
                .algorithmFlag = 0x40,
                .lowLatchAllOnes = false},
    FamilyRules{.family = 13,
                .familyAddressBits = std::nullopt,
                .readPowerMask = 0x7F,
                .programPowerMask = 0xF7,
                .programBaseControl = 0xFD,
                .highAddress = HighAddressRule::Masked,
                .controlFromUpperAddress = false,
                .controlFromA15A16 = true,
                .algorithmCode = 13,
                .algorithmFlag = 0x80,
                .lowLatchAllOnes = false},
};

constexpr const FamilyRules& familyRules(int family) {
  for (const FamilyRules& rules : kFamilyRules) {
    if (rules.family == family) return rules;
  }
  return kOtherFamily;
}

}  // namespace tandra
