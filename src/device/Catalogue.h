#pragma once

#include <span>
#include <string_view>

#include "device/Chips.h"

namespace tandra {

// Every type the programmer serves, in the order the device list shows them (Chips.cpp).
std::span<const Chip> chips();

// The rows of the device list, in order, as the window shows them: a heading, the types of each
// size with a blank row after them, then the 5-volt EEPROMs under theirs. A click records the
// row index, so the rows are counted once, from the records, and never kept by hand.
std::span<const std::string_view> deviceListRows();

// The type a row of the device list selects; nullptr for headings, blank rows, the EEPROMs and
// rows past the end.
const Chip* catalogueEntry(int row);

// The row of the type named as the list shows it ("27C256"); -1 for none.
int deviceListRow(std::string_view name);

// The type named as the list shows it or as the Device button does ("27C010" or "27010"), in
// any case, or as a maker prints it ("M27C128A-15F1" for the 27C128: ChipNames.cpp gives the
// rule); nullptr for none.
const Chip* findChip(std::string_view name);

// Whether `name` is the type's own name or caption (any case), not a maker's name for it.
bool namesChipExactly(const Chip& chip, std::string_view name);

// The pulse code the Pulse entry shows while no type is chosen.
inline constexpr int kNoTypePulseWidth = 5;

}  // namespace tandra
