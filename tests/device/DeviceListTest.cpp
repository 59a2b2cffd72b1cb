// The device list and the records it is made from.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "DeviceTypes.h"
#include "device/Catalogue.h"
#include "device/Session.h"
#include "sim/ChipTypes.h"

namespace tandra::test {
namespace {

// The list as the window shows it, row for row: the one place the rows are written out. The
// window keeps its type by name and the other tests pick types by name, so a type added to the
// list moves the rows after it down here and nowhere else.
constexpr std::string_view kShownRows[] = {
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

// A difference names each row as the records make it, so a row missing above can be copied
// from the message.
TEST(DeviceList, ReadsRowForRowAsTheWindowShowsIt) {
  const std::size_t rows = std::max(deviceListRows().size(), std::size(kShownRows));
  for (std::size_t row = 0; row < rows; ++row) {
    const std::string_view made = row < deviceListRows().size() ? deviceListRows()[row] : "(none)";
    const std::string_view shown = row < std::size(kShownRows) ? kShownRows[row] : "(none)";
    EXPECT_EQ(made, shown) << "row " << row;
  }
}

// The firmware's pulse code of a family, whatever pulse width a data sheet gives: 40 for the
// 2716s, 10 for the 2732s, 2 for the 1 and 2 Mbit parts, 5 for every other.
int familyPulseCode(int family) {
  return family == family::k2716     ? 40
         : family == family::k2732   ? 10
         : family == family::k27C010 ? 2
                                     : 5;
}

// The host's records and the virtual programmer's are kept apart on purpose; a type added on one
// side only, or with another size or voltage, is caught here rather than as a failed run. A
// record's pulse code is its family's, and its voltage setting the one its data sheet's voltage
// chooses.
TEST(DeviceList, EveryTypeIsOneTheVirtualProgrammerKnowsAlike) {
  ASSERT_EQ(chips().size(), sim::kChips.size());
  for (const Chip& type : chips()) {
    SCOPED_TRACE(std::string(type.name));
    const sim::Chip* chip = sim::findChip(type.name);
    ASSERT_NE(chip, nullptr);
    EXPECT_EQ(chip->size, static_cast<std::uint32_t>(type.size));
    EXPECT_EQ(chip->vppSelectCode, type.ratedVpp == RatedVpp::V25   ? sim::vpp::V25
                                   : type.ratedVpp == RatedVpp::V21 ? sim::vpp::V21
                                                                    : sim::vpp::V12_5);
    const Chip* listed = catalogueEntry(type.row());
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed->name, type.name) << "its row selects another type";
    EXPECT_EQ(type.pulseCode, familyPulseCode(type.family)) << "not its family's pulse code";
    EXPECT_EQ(vppSettingFor(type.vppMillivolts), type.ratedVpp)
        << type.vppMillivolts << " mV chooses another setting, or none";
  }
  // A record that does not say it was proven on a real programmer is told as unproven, for each
  // operation; a type the programmer has long served is not. (A type added from its data sheet
  // is in the list unproven, so this does not ask it of every type.)
  const Chip added{.name = "27C64X",
                   .size = 8 * kKiB,
                   .family = family::k2764,
                   .vppMillivolts = 12750,
                   .ratedVpp = RatedVpp::V12_5,
                   .pulseCode = 5};
  for (const Operation operation : {Operation::Program, Operation::BlankCheck, Operation::Verify,
                                    Operation::Move, Operation::ProgramCompare}) {
    EXPECT_TRUE(untestedNote(added, operation));
    EXPECT_FALSE(untestedNote(typeNamed("27C256"), operation));
  }
}

// A maker's part name is taken for the listed type whose number it prints: its own letters
// before the number and a speed, package or grade after it are dropped, but never a letter that
// makes another type.
TEST(DeviceList, AMakersPartNameFindsItsType) {
  const struct {
    std::string_view asked;
    std::string_view found;  // "" for none
  } kNames[] = {
      {"27c256", "27C256"},
      {"27010", "27C010"},
      {"M27C128A", "27C128"},
      {"M27C128A-15F1", "27C128"},
      {"AM27C256-150DC", "27C256"},
      {"TMS27C128-20JL", "27C128"},
      {"D2764A-2", "2764A"},
      {"TMS2732AJL", "2732A"},
      {"M27128A-2F1", "27128A"},
      {"2764-25", "2764"},
      {"M27C1001-10F1", "27C1001"},
      {"AT27C010-45PC", "27C010"},
      {"HN482764G", ""},
      {"M27C4001", ""},
      {"27C2561", ""},
      {"TMS2716", ""},
      {"M", ""},
      {"", ""},
  };
  for (const auto& name : kNames) {
    SCOPED_TRACE(std::string(name.asked));
    const Chip* chip = findChip(name.asked);
    EXPECT_EQ(chip != nullptr ? chip->name : "", name.found);
  }
}

}  // namespace
}  // namespace tandra::test
