// The names a type is asked for by: its own, its Device button caption, and what makers print.
#include "common/Words.h"
#include "device/Catalogue.h"

#include <string>

namespace tandra {

namespace {

bool isLetter(char c) {
  return c >= 'A' && c <= 'Z';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// The type whose name (or caption) begins `text` and is followed there by no digit: the longest
// such, so that 2732A stands before 2732, 27128A before 27128.
const Chip* longestNameAtStart(std::string_view text) {
  const Chip* found = nullptr;
  std::size_t foundLength = 0;
  for (const Chip& chip : chips()) {
    for (const std::string_view name : {chip.name, chip.caption}) {
      const std::string upper = asciiUpper(name);
      if (!text.starts_with(upper) || upper.size() <= foundLength) continue;
      if (upper.size() < text.size() && isDigit(text[upper.size()])) continue;
      found = &chip;
      foundLength = upper.size();
    }
  }
  return found;
}

// Maker names of parts that share a listed number but not its chip: TI's TMS2716 is the
// three-supply 2716, which the single-supply (+5 Only) record must not be taken for.
constexpr std::string_view kOtherParts[] = {"TMS2716"};

}  // namespace

bool namesChipExactly(const Chip& chip, std::string_view name) {
  const std::string wanted = asciiUpper(name);
  return wanted == asciiUpper(chip.name) || wanted == asciiUpper(chip.caption);
}

// A maker prints letters of its own before the type's number and a speed, package or grade
// after it: M27C128A-15F1 and TMS27C128-20JL are 27C128s, AM27C256-150DC a 27C256, D2764A-2 a
// 2764A, TMS2732AJL a 2732A. Those letters are dropped, and the type is the longest name the
// rest begins with, so that a letter that makes another type (the A of the 12.5 V 2764A, 2732A
// and 27128A) is kept. A number of no listed type (HN482764G) names none.
const Chip* findChip(std::string_view name) {
  for (const Chip& chip : chips()) {
    if (namesChipExactly(chip, name)) return &chip;
  }
  const std::string upper = asciiUpper(name);
  for (const std::string_view other : kOtherParts) {
    if (std::string_view(upper).starts_with(other)) return nullptr;
  }
  std::size_t number = 0;
  while (number < upper.size() && isLetter(upper[number])) ++number;
  if (number == upper.size() || !isDigit(upper[number])) return nullptr;
  return longestNameAtStart(std::string_view(upper).substr(number));
}

}  // namespace tandra
