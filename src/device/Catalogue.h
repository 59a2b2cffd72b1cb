#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "device/Chips.h"

namespace tandra {

// The device list is laid out from the chip records: a heading, the types of each size with a
// blank row after them, then the 5-volt EEPROMs under theirs. A click records the row index, so
// the rows are counted here once, from the records, and never kept by hand.
namespace devicelist {

inline constexpr std::string_view kEpromHeading = "                Eprom's";
inline constexpr std::string_view kEepromHeading = "               EEprom's 5 Volts";

// The columns of a type's row: its name, a note, the voltage, and the size ending the row.
inline constexpr std::size_t kNoteColumn = 7;
inline constexpr std::size_t kVoltageColumn = 19;
inline constexpr std::size_t kRowWidth = 38;

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

inline constexpr Layout kLayout = layOut();

constexpr std::array<std::string_view, rowCount()> rowTexts() {
  std::array<std::string_view, rowCount()> texts{};
  for (std::size_t row = 0; row < texts.size(); ++row) texts.at(row) = kLayout.rows.at(row).view();
  return texts;
}

}  // namespace devicelist

// The rows of the device list, in order, as the window shows them.
inline constexpr std::array<std::string_view, devicelist::rowCount()> kDeviceListRows =
    devicelist::rowTexts();

// A device type as the list offers it: the chip's record, the row that selects it, and the
// last address of its image window.
struct DeviceType : Chip {
  int row;
  std::int32_t endAddress;
};

inline constexpr std::array<DeviceType, kChips.size()> kCatalogue = [] {
  std::array<DeviceType, kChips.size()> types{};
  for (std::size_t chip = 0; chip < kChips.size(); ++chip) {
    types.at(chip) =
        DeviceType{kChips[chip], devicelist::kLayout.chipRows.at(chip), kChips[chip].size - 1};
  }
  return types;
}();

// The type a row of the device list selects; nullptr for headings, blank rows, the EEPROMs and
// rows past the end.
constexpr const DeviceType* catalogueEntry(int row) {
  for (const DeviceType& type : kCatalogue) {
    if (type.row == row) return &type;
  }
  return nullptr;
}

// The row of the type named as the list shows it ("27C256"); -1 for none.
constexpr int deviceListRow(std::string_view name) {
  for (const DeviceType& type : kCatalogue) {
    if (type.name == name) return type.row;
  }
  return -1;
}

// The pulse width the Pulse entry shows while no type is chosen.
inline constexpr int kNoTypePulseWidth = 5;

}  // namespace tandra
