#pragma once

#include <cstdint>
#include <string>

namespace tandra {

// Upper-case hexadecimal with at least `minDigits` digits, more when the value needs them.
inline std::string hexText(std::uint64_t value, int minDigits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(text.size()) < minDigits) text.insert(0, minDigits - text.size(), '0');
  return text;
}

// Exactly `digits` (at most 16) upper-case hexadecimal digits of `value`, its high digits
// dropped, appended to `text`: saving an image or tracing the link appends millions of them,
// and nothing is allocated beyond the growth of `text` itself.
inline void appendHex(std::string& text, std::uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char buffer[16];
  for (int i = digits - 1; i >= 0; --i, value >>= 4) buffer[i] = kDigits[value & 0xF];
  text.append(buffer, static_cast<std::size_t>(digits));
}

// The value of a hexadecimal digit in either case, -1 for any other character.
constexpr int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Exactly two upper-case digits of a byte.
inline std::string hexByte(std::uint8_t value) {
  return hexText(value, 2);
}

}  // namespace tandra
