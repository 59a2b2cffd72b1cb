#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tandra {

// The length of the well-formed UTF-8 character at the start of `text`; 0 when it is none (a
// stray continuation byte, a sequence cut short, an overlong form, a surrogate, past U+10FFFF).
inline std::size_t utf8CharacterLength(std::string_view text) {
  if (text.empty()) return 0;
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() < length || byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
  }
  return length;
}

inline bool isUtf8(std::string_view text) {
  while (!text.empty()) {
    const std::size_t length = utf8CharacterLength(text);
    if (length == 0) return false;
    text.remove_prefix(length);
  }
  return true;
}

// A file name as a message shows it: on one line and as the bytes it is. Line ends and tabs are
// written \n, \r and \t, other control characters and bytes that are not UTF-8 as \xFF; every
// other character, also beyond ASCII, stands as itself.
inline std::string shownName(std::string_view name) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string shown;
  while (!name.empty()) {
    const std::size_t length = utf8CharacterLength(name);
    const auto byte = static_cast<std::uint8_t>(name[0]);
    if (length > 1 || (length == 1 && byte >= 0x20 && byte != 0x7F)) {
      shown.append(name.substr(0, length));
      name.remove_prefix(length);
      continue;
    }
    if (byte == '\n') {
      shown += "\\n";
    } else if (byte == '\r') {
      shown += "\\r";
    } else if (byte == '\t') {
      shown += "\\t";
    } else {
      shown += "\\x";
      shown += kDigits[byte >> 4];
      shown += kDigits[byte & 0xF];
    }
    name.remove_prefix(1);
  }
  return shown;
}

}  // namespace tandra
