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
};

inline constexpr FamilyRules kOtherFamily{
    0, std::nullopt, 0x7F, 0xF7, 0xFD, HighAddressRule::Unchanged, false, false, 0, 0x01};

inline constexpr std::array<FamilyRules, 10> kFamilyRules{{
    {1, 0x08, 0x7F, 0xF7, 0x7D, HighAddressRule::OrAddressBits, false, false, 1, 0x01},
    {2, 0x00, 0x7F, 0xF7, 0xFD, HighAddressRule::Plain, false, false, 2, 0x01},
    {3, 0xE0, 0x7F, 0xF1, 0xFD, HighAddressRule::FlipA13SetA14A15, false, false, 3, 0x01},
    {4, 0xA0, 0x7F, 0xF7, 0xFD, HighAddressRule::FlipA13SetA15, false, false, 4, 0x01},
    {5, 0x20, 0x7F, 0xF7, 0xFD, HighAddressRule::FlipA13, false, false, 2, 0x01},
    {6, 0x20, 0x7B, 0xF2, 0xFD, HighAddressRule::FlipA13, true, false, 5, 0x01},
    {10, 0x08, 0x7F, 0xF7, 0xFD, HighAddressRule::OrAddressBits, false, false, 10, 0x01},
    {11, 0x60, 0x7F, 0xF7, 0xFD, HighAddressRule::Masked, false, false, 11, 0x01},
    {12, std::nullopt, 0x7F, 0xF7, 0xFD, HighAddressRule::Masked, false, false, 12, 0x40},
    {13, std::nullopt, 0x7F, 0xF7, 0xFD, HighAddressRule::Masked, false, true, 13, 0x80},
}};

constexpr const FamilyRules& familyRules(int family) {
  for (const FamilyRules& rules : kFamilyRules) {
    if (rules.family == family) return rules;
  }
  return kOtherFamily;
}

}  // namespace tandra
