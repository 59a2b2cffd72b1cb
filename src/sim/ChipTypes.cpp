#include "sim/ChipTypes.h"
#include "common/Words.h"

#include <cctype>
#include <stdexcept>
#include <string>

namespace tandra::sim {

const PinoutRules& rulesFor(Pinout pinout) {
  for (const PinoutRules& rules : kPinoutRules) {
    if (rules.pinout == pinout) return rules;
  }
  return kPinoutRules.front();
}

const Chip* findChip(std::string_view name) {
  const auto same = sameIgnoringCase;
  if (same(name, "27010")) name = "27C010";
  for (const Chip& type : kChips) {
    if (same(type.name, name)) return &type;
  }
  return nullptr;
}

const Chip& chipNamed(std::string_view name) {
  if (const Chip* type = findChip(name)) return *type;
  throw std::invalid_argument("no EPROM type " + std::string(name));
}

}  // namespace tandra::sim
