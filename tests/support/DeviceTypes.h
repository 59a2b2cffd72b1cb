#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>
#include <string_view>

#include "device/Catalogue.h"

namespace tandra::test {

// Tests pick a type by its name, never by its row of the device list: the rows after a newly
// added chip move down by one, and a row number would quietly pick the neighbour.
inline const Chip& typeNamed(std::string_view name) {
  for (const Chip& type : chips()) {
    if (type.name == name) return type;
  }
  throw std::invalid_argument("the device list has no type " + std::string(name));
}
inline int rowOf(std::string_view name) {
  return typeNamed(name).row();
}

// A row left blank after the types of one size: a click on it chooses no type.
inline int blankRow() {
  return static_cast<int>(std::find(deviceListRows().begin(), deviceListRows().end(), "") -
                          deviceListRows().begin());
}

}  // namespace tandra::test
