#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "device/FamilyRules.h"

namespace tandra {

// The programming voltages a UV EPROM is made for, numbered as the Vpp button's settings.
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

// One UV EPROM type the programmer serves, as the operator knows it.
struct Chip {
  std::string_view name;            // as printed on the chip; the first word of its list row
  std::string_view caption = name;  // what the Device button says once it is chosen
  std::int32_t size;                // bytes, a power of two: the image window is 0 to size - 1
  int family;                       // the engine's address and set-up rules (FamilyRules.h)
  RatedVpp ratedVpp;                // its programming voltage: the one Vpp starts at
  int pulseWidth;                   // the programming pulse width the Pulse entry starts with
  std::string_view listNote = {};   // a word in the device list between the name and the voltage
  Tested tested = {};               // what has been seen to work on a real programmer
};

// Every type, in the order the device list shows them. The list is made from these records:
// the types of one size stand together, a blank row after them, so a new type goes beside the
// others of its size, and the rows of the types after it move down by one. That is all it
// takes for a type of a family already here; the virtual programmer has a record of its own
// for it (sim/ChipTypes.h), and the list's rows are in tests/device/DeviceListTest.cpp.
inline constexpr std::array kChips{
    // "+5 Only": the single-supply 2716, not the three-supply part sold under the same number.
    Chip{.name = "2716",
         .size = 2 * kKiB,
         .family = family::k2716,
         .ratedVpp = RatedVpp::V25,
         .pulseWidth = 40,
         .listNote = "(+5 Only)",
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C16",
         .size = 2 * kKiB,
         .family = family::k2716,
         .ratedVpp = RatedVpp::V12_5,
         .pulseWidth = 40,
         .tested = kProvenOnTheProgrammer},

    Chip{.name = "2732",
         .size = 4 * kKiB,
         .family = family::k2732,
         .ratedVpp = RatedVpp::V25,
         .pulseWidth = 10,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "2732A",
         .size = 4 * kKiB,
         .family = family::k2732,
         .ratedVpp = RatedVpp::V21,
         .pulseWidth = 10,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C32",
         .size = 4 * kKiB,
         .family = family::k2732,
         .ratedVpp = RatedVpp::V12_5,
         .pulseWidth = 10,
         .tested = kProvenOnTheProgrammer},

    Chip{.name = "2764",
         .size = 8 * kKiB,
         .family = family::k2764,
         .ratedVpp = RatedVpp::V21,
         .pulseWidth = 5,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "2764A",
         .size = 8 * kKiB,
         .family = family::k2764,
         .ratedVpp = RatedVpp::V12_5,
         .pulseWidth = 5,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C64",
         .size = 8 * kKiB,
         .family = family::k2764,
         .ratedVpp = RatedVpp::V12_5,
         .pulseWidth = 5,
         .tested = kProvenOnTheProgrammer},

    Chip{.name = "27128",
         .size = 16 * kKiB,
         .family = family::k2764,
         .ratedVpp = RatedVpp::V21,
         .pulseWidth = 5,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27128A",
         .size = 16 * kKiB,
         .family = family::k2764,
         .ratedVpp = RatedVpp::V12_5,
         .pulseWidth = 5,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C128",
         .size = 16 * kKiB,
         .family = family::k2764,
         .ratedVpp = RatedVpp::V12_5,
         .pulseWidth = 5,
         .tested = kProvenOnTheProgrammer},

    Chip{.name = "27256",
         .size = 32 * kKiB,
         .family = family::k27256,
         .ratedVpp = RatedVpp::V12_5,
         .pulseWidth = 5,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C256",
         .size = 32 * kKiB,
         .family = family::k27256,
         .ratedVpp = RatedVpp::V12_5,
         .pulseWidth = 5,
         .tested = kProvenOnTheProgrammer},

    Chip{.name = "27512",
         .size = 64 * kKiB,
         .family = family::k27512,
         .ratedVpp = RatedVpp::V12_5,
         .pulseWidth = 5,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C512",
         .size = 64 * kKiB,
         .family = family::k27512,
         .ratedVpp = RatedVpp::V12_5,
         .pulseWidth = 5,
         .tested = kProvenOnTheProgrammer},

    // The Device button has always called this one 27010, where the list says 27C010.
    Chip{.name = "27C010",
         .caption = "27010",
         .size = 128 * kKiB,
         .family = family::k27C010,
         .ratedVpp = RatedVpp::V12_5,
         .pulseWidth = 2,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C1001",
         .size = 128 * kKiB,
         .family = family::k27C010,
         .ratedVpp = RatedVpp::V12_5,
         .pulseWidth = 2,
         .tested = kProvenOnTheProgrammer},

    Chip{.name = "27C020",
         .size = 256 * kKiB,
         .family = family::k27C010,
         .ratedVpp = RatedVpp::V12_5,
         .pulseWidth = 2,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C2001",
         .size = 256 * kKiB,
         .family = family::k27C010,
         .ratedVpp = RatedVpp::V12_5,
         .pulseWidth = 2,
         .tested = kProvenOnTheProgrammer},
};

// The 5-volt EEPROMs the list names under their own heading; their rows select nothing.
struct ListedEeprom {
  std::string_view name;
  std::int32_t size;
};

inline constexpr std::array kFiveVoltEeproms{
    ListedEeprom{"28(C)16", 2 * kKiB},
    ListedEeprom{"28(C)64", 8 * kKiB},
    ListedEeprom{"28(C)256", 32 * kKiB},
};

}  // namespace tandra
