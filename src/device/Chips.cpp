// The chip records and the device list laid out from them. A new type is one record here: the
// rest of the program finds it through Catalogue.h, so adding one compiles this file alone.
#include "device/Catalogue.h"

#include <array>
#include <cstddef>

namespace tandra {

namespace {

// Every type, in the order the device list shows them. The types of one size stand together, a
// blank row after them, so a new type goes beside the others of its size, and the rows of the
// types after it move down by one. The virtual programmer has a record of its own for each
// (sim/ChipTypes.h), and the list's rows are in tests/device/DeviceListTest.cpp.
//
// vppMillivolts is the data sheet's programming voltage; ratedVpp is the setting it chooses
// (vppSettingFor in Chips.h). pulseCode is the firmware's code for the family, not a time:
// 40 for the 2716 family, 10 for the 2732s, 2 for the 1 and 2 Mbit parts, 5 for the others.
constexpr std::array kChips{
    // "+5 Only": the single-supply 2716, not the three-supply part sold under the same number.
    Chip{.name = "2716",
         .size = 2 * kKiB,
         .family = family::k2716,
         .vppMillivolts = 25000,
         .ratedVpp = RatedVpp::V25,
         .pulseCode = 40,
         .listNote = "(+5 Only)",
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C16",
         .size = 2 * kKiB,
         .family = family::k2716,
         .vppMillivolts = 12500,
         .ratedVpp = RatedVpp::V12_5,
         .pulseCode = 40,
         .tested = kProvenOnTheProgrammer},

    Chip{.name = "2732",
         .size = 4 * kKiB,
         .family = family::k2732,
         .vppMillivolts = 25000,
         .ratedVpp = RatedVpp::V25,
         .pulseCode = 10,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "2732A",
         .size = 4 * kKiB,
         .family = family::k2732,
         .vppMillivolts = 21000,
         .ratedVpp = RatedVpp::V21,
         .pulseCode = 10,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C32",
         .size = 4 * kKiB,
         .family = family::k2732,
         .vppMillivolts = 12500,
         .ratedVpp = RatedVpp::V12_5,
         .pulseCode = 10,
         .tested = kProvenOnTheProgrammer},

    Chip{.name = "2764",
         .size = 8 * kKiB,
         .family = family::k2764,
         .vppMillivolts = 21000,
         .ratedVpp = RatedVpp::V21,
         .pulseCode = 5,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "2764A",
         .size = 8 * kKiB,
         .family = family::k2764,
         .vppMillivolts = 12500,
         .ratedVpp = RatedVpp::V12_5,
         .pulseCode = 5,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C64",
         .size = 8 * kKiB,
         .family = family::k2764,
         .vppMillivolts = 12750,
         .ratedVpp = RatedVpp::V12_5,
         .pulseCode = 5,
         .tested = kProvenOnTheProgrammer},

    Chip{.name = "27128",
         .size = 16 * kKiB,
         .family = family::k2764,
         .vppMillivolts = 21000,
         .ratedVpp = RatedVpp::V21,
         .pulseCode = 5,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27128A",
         .size = 16 * kKiB,
         .family = family::k2764,
         .vppMillivolts = 12500,
         .ratedVpp = RatedVpp::V12_5,
         .pulseCode = 5,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C128",
         .size = 16 * kKiB,
         .family = family::k2764,
         .vppMillivolts = 12750,
         .ratedVpp = RatedVpp::V12_5,
         .pulseCode = 5,
         .tested = kProvenOnTheProgrammer},

    Chip{.name = "27256",
         .size = 32 * kKiB,
         .family = family::k27256,
         .vppMillivolts = 12500,
         .ratedVpp = RatedVpp::V12_5,
         .pulseCode = 5,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C256",
         .size = 32 * kKiB,
         .family = family::k27256,
         .vppMillivolts = 12750,
         .ratedVpp = RatedVpp::V12_5,
         .pulseCode = 5,
         .tested = kProvenOnTheProgrammer},

    Chip{.name = "27512",
         .size = 64 * kKiB,
         .family = family::k27512,
         .vppMillivolts = 12500,
         .ratedVpp = RatedVpp::V12_5,
         .pulseCode = 5,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C512",
         .size = 64 * kKiB,
         .family = family::k27512,
         .vppMillivolts = 12750,
         .ratedVpp = RatedVpp::V12_5,
         .pulseCode = 5,
         .tested = kProvenOnTheProgrammer},

    // The Device button has always called this one 27010, where the list says 27C010.
    Chip{.name = "27C010",
         .caption = "27010",
         .size = 128 * kKiB,
         .family = family::k27C010,
         .vppMillivolts = 12750,
         .ratedVpp = RatedVpp::V12_5,
         .pulseCode = 2,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C1001",
         .size = 128 * kKiB,
         .family = family::k27C010,
         .vppMillivolts = 12750,
         .ratedVpp = RatedVpp::V12_5,
         .pulseCode = 2,
         .tested = kProvenOnTheProgrammer},

    Chip{.name = "27C020",
         .size = 256 * kKiB,
         .family = family::k27C010,
         .vppMillivolts = 12750,
         .ratedVpp = RatedVpp::V12_5,
         .pulseCode = 2,
         .tested = kProvenOnTheProgrammer},
    Chip{.name = "27C2001",
         .size = 256 * kKiB,
         .family = family::k27C010,
         .vppMillivolts = 12750,
         .ratedVpp = RatedVpp::V12_5,
         .pulseCode = 2,
         .tested = kProvenOnTheProgrammer},
};

// The 5-volt EEPROMs the list names under their own heading; their rows select nothing.
struct ListedEeprom {
  std::string_view name;
  std::int32_t size;
};

constexpr std::array kFiveVoltEeproms{
    ListedEeprom{"28(C)16", 2 * kKiB},
    ListedEeprom{"28(C)64", 8 * kKiB},
    ListedEeprom{"28(C)256", 32 * kKiB},
};

constexpr std::string_view kEpromHeading = "                Eprom's";
constexpr std::string_view kEepromHeading = "               EEprom's 5 Volts";

// The columns of a type's row: its name, a note, the voltage, and the size ending the row.
constexpr std::size_t kNoteColumn = 7;
constexpr std::size_t kVoltageColumn = 19;
constexpr std::size_t kRowWidth = 38;

// One row's text, built while compiling; a name too long for its column fails the build.
struct RowText {
  std::array<char, kRowWidth> chars{};
  std::size_t length = 0;

  constexpr void append(std::string_view text) {
    for (char c : text) chars.at(length++) = c;
  }
  constexpr void padTo(std::size_t column) {
    if (length >= column) throw "a row's text runs into its next column";
    while (length < column) chars.at(length++) = ' ';
  }
  constexpr std::string_view view() const { return {chars.data(), length}; }
};

// "32K X 8", ending at the row's last column.
constexpr void appendSize(RowText& row, std::int32_t size) {
  std::array<char, 12> digits{};
  std::size_t count = 0;
  for (std::int32_t kib = size / kKiB; kib > 0; kib /= 10) {
    digits.at(count++) = static_cast<char>('0' + kib % 10);
  }
  constexpr std::string_view kSuffix = "K X 8";
  row.padTo(kRowWidth - count - kSuffix.size());
  while (count > 0) row.append(std::string_view(&digits.at(--count), 1));
  row.append(kSuffix);
}

constexpr RowText chipRow(const Chip& chip) {
  RowText row;
  row.append(chip.name);
  if (!chip.listNote.empty()) {
    row.padTo(kNoteColumn);
    row.append(chip.listNote);
  }
  row.padTo(kVoltageColumn);
  row.append("(");
  row.append(voltsText(chip.ratedVpp));
  row.append("V)");
  appendSize(row, chip.size);
  return row;
}

constexpr RowText eepromRow(const ListedEeprom& eeprom) {
  RowText row;
  row.append(eeprom.name);
  appendSize(row, eeprom.size);
  return row;
}

constexpr RowText heading(std::string_view text) {
  RowText row;
  row.append(text);
  return row;
}

constexpr bool endsItsSize(std::size_t chip) {
  return chip + 1 == kChips.size() || kChips[chip + 1].size != kChips[chip].size;
}

constexpr std::size_t rowCount() {
  std::size_t blanks = 0;
  for (std::size_t chip = 0; chip < kChips.size(); ++chip) blanks += endsItsSize(chip) ? 1 : 0;
  return 1 + kChips.size() + blanks + 1 + kFiveVoltEeproms.size();
}

struct Layout {
  std::array<RowText, rowCount()> rows{};
  std::array<int, kChips.size()> chipRows{};  // the row of each record of kChips
};

constexpr Layout layOut() {
  Layout list;
  std::size_t row = 0;
  list.rows.at(row++) = heading(kEpromHeading);
  for (std::size_t chip = 0; chip < kChips.size(); ++chip) {
    list.chipRows.at(chip) = static_cast<int>(row);
    list.rows.at(row++) = chipRow(kChips[chip]);
    if (endsItsSize(chip)) ++row;  // left blank
  }
  list.rows.at(row++) = heading(kEepromHeading);
  for (const ListedEeprom& eeprom : kFiveVoltEeproms) list.rows.at(row++) = eepromRow(eeprom);
  return list;
}

constexpr Layout kLayout = layOut();

constexpr std::array<std::string_view, rowCount()> rowTexts() {
  std::array<std::string_view, rowCount()> texts{};
  for (std::size_t row = 0; row < texts.size(); ++row) texts.at(row) = kLayout.rows.at(row).view();
  return texts;
}

constexpr std::array<std::string_view, rowCount()> kRows = rowTexts();

}  // namespace

std::span<const Chip> chips() {
  return kChips;
}

std::span<const std::string_view> deviceListRows() {
  return kRows;
}

const Chip* catalogueEntry(int row) {
  for (std::size_t chip = 0; chip < kChips.size(); ++chip) {
    if (kLayout.chipRows[chip] == row) return &kChips[chip];
  }
  return nullptr;
}

int deviceListRow(std::string_view name) {
  for (std::size_t chip = 0; chip < kChips.size(); ++chip) {
    if (kChips[chip].name == name) return kLayout.chipRows[chip];
  }
  return -1;
}

int Chip::row() const {
  return deviceListRow(name);
}

}  // namespace tandra
