#include "files/ContentLook.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>

#include "common/HexText.h"
#include "common/InputFile.h"
#include "common/ShownName.h"
#include "files/FileFormat.h"

namespace tandra {

namespace {

// As much of a file as is looked at: the first line of any record file, and of a pipe no more
// than it holds at once.
constexpr std::size_t kHeadSize = 4096;

constexpr char kCtrlZ = 0x1A;

// Executables and archives, by the bytes they begin with.
struct Container {
  ContentLook look;
  std::string_view magic;
  std::string_view name;
  std::string_view advice;
};

constexpr std::string_view kUnpack = "unpack it and load the image it holds";

constexpr std::array<Container, 7> kContainers{{
    {ContentLook::ElfExecutable,
     "\x7F"
     "ELF",
     "an ELF executable", "objcopy -O ihex FILE OUT.hex makes one"},
    {ContentLook::WindowsExecutable, "MZ", "a Windows executable",
     "the programmer takes the image a build makes for the chip (.hex, .s19 or .bin)"},
    {ContentLook::ZipArchive, "PK\x03\x04", "a zip archive", kUnpack},
    {ContentLook::GzipArchive, "\x1F\x8B\x08", "a gzip archive", kUnpack},
    {ContentLook::XzArchive,
     std::string_view("\xFD"
                      "7zXZ\0",
                      6),
     "an xz archive", kUnpack},
    {ContentLook::Bzip2Archive, "BZh", "a bzip2 archive", kUnpack},
    {ContentLook::SevenZipArchive, "7z\xBC\xAF\x27\x1C", "a 7z archive", kUnpack},
}};

bool startsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

std::uint32_t littleEndian32(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

// "MZ" alone may be an image's first bytes; a Windows executable names its PE header as well.
bool isWindowsExecutable(std::string_view head) {
  constexpr std::size_t kHeaderOffsetAt = 0x3C;
  if (head.size() < kHeaderOffsetAt + 4) return false;
  const std::uint32_t header = littleEndian32(head, kHeaderOffsetAt);
  return header <= head.size() - 4 && head.substr(header, 4) == std::string_view("PE\0\0", 4);
}

// bzip2's "BZh" is followed by the block size digit and the block's own mark.
bool isBzip2(std::string_view head) {
  return head.size() >= 10 && head[3] >= '1' && head[3] <= '9' &&
         head.substr(4, 6) == "\x31\x41\x59\x26\x53\x59";
}

std::optional<ContentLook> containerLook(std::string_view head) {
  for (const Container& container : kContainers) {
    if (!startsWith(head, container.magic)) continue;
    if (container.look == ContentLook::WindowsExecutable && !isWindowsExecutable(head)) continue;
    if (container.look == ContentLook::Bzip2Archive && !isBzip2(head)) continue;
    return container.look;
  }
  return std::nullopt;
}

bool isAsciiText(std::uint8_t b) {
  return (b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n' || b == '\t' || b == '\f' || b == '\v';
}

// Two bytes a character, the zero high byte first (big-endian) or second: text all the way.
bool isUtf16Text(std::string_view bytes, bool bigEndian) {
  if (bytes.size() < 2) return false;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto low = static_cast<std::uint8_t>(bytes[i + (bigEndian ? 1 : 0)]);
    const auto high = static_cast<std::uint8_t>(bytes[i + (bigEndian ? 0 : 1)]);
    if (high != 0 || !(isAsciiText(low) || low == kCtrlZ)) return false;
  }
  return true;
}

bool looksUtf16(std::string_view head) {
  if (startsWith(head, "\xFF\xFE")) return isUtf16Text(head.substr(2), false);
  if (startsWith(head, "\xFE\xFF")) return isUtf16Text(head.substr(2), true);
  // Without a mark: at least two characters, every other byte zero.
  return head.size() >= 4 && (isUtf16Text(head, false) || isUtf16Text(head, true));
}

// How far the head is text: ASCII text and whole UTF-8 characters, and a character the head's
// end cuts in two.
std::size_t textLength(std::string_view head) {
  std::size_t at = 0;
  while (at < head.size()) {
    const auto byte = static_cast<std::uint8_t>(head[at]);
    if (byte < 0x80) {
      if (!isAsciiText(byte)) return at;
      ++at;
      continue;
    }
    const std::size_t length = utf8CharacterLength(head.substr(at));
    if (length == 0) {
      const bool cutAtTheEnd =
          head.size() - at < 4 && byte >= 0xC2 && byte <= 0xF4 &&
          std::all_of(head.begin() + static_cast<std::ptrdiff_t>(at) + 1, head.end(),
                      [](char c) { return (static_cast<std::uint8_t>(c) & 0xC0) == 0x80; });
      return cutAtTheEnd ? head.size() : at;
    }
    at += length;
  }
  return at;
}

bool allHexDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return hexDigitValue(c) >= 0; });
}

// A whole Intel record (':' and at least the ten digits of an end record) or S-record ('S', its
// type digit and at least the eight digits of an S9 record), nothing else on the line.
std::optional<ContentLook> recordLook(std::string_view line) {
  if (line.size() >= 11 && line[0] == ':' && allHexDigits(line.substr(1))) {
    return ContentLook::IntelHex;
  }
  if (line.size() >= 10 && line[0] == 'S' && std::isdigit(static_cast<unsigned char>(line[1])) &&
      allHexDigits(line.substr(2))) {
    return ContentLook::MotorolaHex;
  }
  return std::nullopt;
}

bool isLineEnd(char c) {
  return c == '\r' || c == '\n';
}

// The lines of a text, blank ones passed over; the last only when a line end closes it.
template <typename Visit>
void forEachWholeLine(std::string_view text, Visit&& visit) {
  for (;;) {
    const auto first = std::find_if_not(text.begin(), text.end(), isLineEnd);
    const auto end = std::find_if(first, text.end(), isLineEnd);
    if (end == text.end()) return;
    if (!visit(std::string_view(&*first, static_cast<std::size_t>(end - first)))) return;
    text.remove_prefix(static_cast<std::size_t>(end - text.begin()));
  }
}

// Text: which kind of line starts it.
ContentLook textLook(std::string_view text) {
  const auto first = std::find_if_not(text.begin(), text.end(), isLineEnd);
  if (first == text.end()) return ContentLook::Empty;
  if (*first == ':') return ContentLook::IntelHex;
  if (*first == 'S' && first + 1 != text.end() &&
      std::isdigit(static_cast<unsigned char>(first[1]))) {
    return ContentLook::MotorolaHex;
  }
  const auto lineEnd = std::find_if(first, text.end(), isLineEnd);
  if (allHexDigits(std::string_view(&*first, static_cast<std::size_t>(lineEnd - first)))) {
    return ContentLook::AsciiHex;
  }
  // A comment or a title before the records.
  std::optional<ContentLook> records;
  forEachWholeLine(text, [&](std::string_view line) {
    records = recordLook(line);
    return !records;
  });
  return records.value_or(ContentLook::OtherText);
}

// Text up to a byte that is none: a record file when its first line is a whole record.
ContentLook textThenBytesLook(std::string_view text) {
  std::optional<ContentLook> records;
  forEachWholeLine(text, [&](std::string_view line) {
    records = recordLook(line);
    return false;
  });
  return records.value_or(ContentLook::Binary);
}

}  // namespace

ContentLook lookOf(std::string_view head) {
  if (head.empty()) return ContentLook::Empty;
  if (const std::optional<ContentLook> container = containerLook(head)) return *container;
  if (looksUtf16(head)) return ContentLook::Utf16;
  if (startsWith(head, "\xEF\xBB\xBF")) head.remove_prefix(3);
  head = head.substr(0, head.find(kCtrlZ));
  if (head.empty()) return ContentLook::Empty;
  const std::size_t text = textLength(head);
  return text == head.size() ? textLook(head) : textThenBytesLook(head.substr(0, text));
}

ContentLook lookOf(InputFile& file) {
  return lookOf(file.peek(kHeadSize));
}

std::string_view lookName(ContentLook look) {
  for (const Container& container : kContainers) {
    if (container.look == look) return container.name;
  }
  if (const std::optional<FileFormat> format = formatOfLook(look)) {
    return fileFormatInfo(*format).name;
  }
  switch (look) {
    case ContentLook::Empty:
      return "empty";
    case ContentLook::OtherText:
      return "text";
    default:
      break;
  }
  return "UTF-16 text";
}

std::optional<FileFormat> formatOfLook(ContentLook look) {
  for (const FileFormatInfo& info : fileFormats()) {
    if (info.look == look) return info.format;
  }
  return std::nullopt;
}

bool isContainer(ContentLook look) {
  return std::any_of(kContainers.begin(), kContainers.end(),
                     [look](const Container& container) { return container.look == look; });
}

std::string containerMessage(ContentLook look) {
  for (const Container& container : kContainers) {
    if (container.look == look) {
      return "This is " + std::string(container.name) +
             ", not an image: " + std::string(container.advice);
    }
  }
  return {};
}

}  // namespace tandra
