#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "device/FamilyRules.h"

namespace tandra {

// The programmer's three programming voltages, numbered as the Vpp button's settings.
enum class RatedVpp { V25 = 1, V21 = 2, V12_5 = 3 };

constexpr int vppSetting(RatedVpp vpp) {
  return static_cast<int>(vpp);
}

// The voltage as the device list and tandra-cli write it.
constexpr std::string_view voltsText(RatedVpp vpp) {
  switch (vpp) {
    case RatedVpp::V25:
      return "25";
    case RatedVpp::V21:
      return "21";
    default:
      return "12.5";
  }
}

// How far a data sheet's programming voltage may lie from the setting the programmer gives it.
// The supply has three settings and nothing between them: a 12.75 V part is programmed at
// 12.5 V, as every 12.5 V part has been on this programmer; a part that needs 13.5 V or 18 V
// is one it cannot serve.
inline constexpr int kVppToleranceMillivolts = 750;

// The setting a data sheet's programming voltage (in millivolts) chooses: the nearest of the
// three, when it lies within kVppToleranceMillivolts of it; none when no setting is near enough.
constexpr std::optional<RatedVpp> vppSettingFor(int millivolts) {
  constexpr struct {
    RatedVpp setting;
    int millivolts;
  } kSettings[] = {{RatedVpp::V25, 25000}, {RatedVpp::V21, 21000}, {RatedVpp::V12_5, 12500}};
  for (const auto& level : kSettings) {
    const int off = millivolts - level.millivolts;
    if (off <= kVppToleranceMillivolts && -off <= kVppToleranceMillivolts) return level.setting;
  }
  return std::nullopt;
}

inline constexpr std::int32_t kKiB = 1024;

// Whether an operation on a type has been seen to work on a real programmer with real chips.
enum class Proof { Untested, Proven };

// Each operation's proof for one type: a type added from its data sheet alone is untested until
// someone has programmed, verified, blank-checked and read real chips of it and said so.
struct Tested {
  Proof program = Proof::Untested;
  Proof verify = Proof::Untested;
  Proof blank = Proof::Untested;
  Proof read = Proof::Untested;
};
// The types of the programmer's own list, which its users have run for years.
inline constexpr Tested kProvenOnTheProgrammer{Proof::Proven, Proof::Proven, Proof::Proven,
                                               Proof::Proven};

// One UV EPROM type the programmer serves, as the operator knows it. The records are in
// Chips.cpp, in the order of the device list.
struct Chip {
  std::string_view name;            // as printed on the chip; the first word of its list row
  std::string_view caption = name;  // what the Device button says once it is chosen
  std::int32_t size;                // bytes, a power of two: the image window is 0 to size - 1
  int family;                       // the engine's address and set-up rules (FamilyRules.h)
  int vppMillivolts;                // the programming voltage its data sheet gives
  RatedVpp ratedVpp;                // the programmer's setting for it: what vppMillivolts chooses
  // The firmware's pulse code for the family (not the data sheet's microseconds): what the
  // Pulse entry starts with and Program sends.
  int pulseCode;
  std::string_view listNote = {};  // a word in the device list between the name and the voltage
  Tested tested = {};              // what has been seen to work on a real programmer

  // The last address of its image window.
  constexpr std::int32_t endAddress() const { return size - 1; }
  // The row of the device list that selects the type of this name; -1 for none.
  int row() const;
};

}  // namespace tandra
