#pragma once

#include <cctype>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace tandra {

// Letters as typed and as stored compare without regard to case, and only ASCII letters fold:
// type names, file name endings and option words are all ASCII.
inline std::string asciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

inline std::string asciiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

inline bool sameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// An unsigned number as typed or stored: digits of `base` only (no sign, no space, no prefix),
// and no more than 64 bits hold.
struct UnsignedNumber {
  enum class Fault { None, NotANumber, TooLarge };
  std::uint64_t value = 0;
  Fault fault = Fault::NotANumber;
  explicit operator bool() const { return fault == Fault::None; }
};

inline UnsignedNumber parseUnsigned(std::string_view text, int base = 10) {
  UnsignedNumber number;
  if (text.empty()) return number;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, number.value, base);
  if (stop != end) return number;  // a character that is no digit, or none at all
  if (error == std::errc::result_out_of_range) {
    number.fault = UnsignedNumber::Fault::TooLarge;
  } else if (error == std::errc()) {
    number.fault = UnsignedNumber::Fault::None;
  }
  return number;
}

// A hexadecimal number as data sheets and scripts write it: its digits, with or without 0x (or
// 0X) before them.
inline UnsignedNumber parseHexadecimal(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  return parseUnsigned(text, 16);
}

// A whole number as people write one: decimal digits, or hexadecimal after 0x (or 0X). A leading
// 0 is never octal: 010 is ten.
inline UnsignedNumber parseWholeNumber(std::string_view text) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    return parseHexadecimal(text);
  }
  return parseUnsigned(text, 10);
}

}  // namespace tandra
