#include "files/FormatGuess.h"
#include "common/Words.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <filesystem>

#include "common/FileError.h"
#include "common/HexText.h"
#include "common/InputFile.h"

namespace tandra {

namespace {

// As much of a file as is looked at: the first line of any record file, and of a pipe no more
// than it holds at once.
constexpr std::size_t kHeadSize = 4096;

constexpr std::array<NamedFormat, 14> kExtensions{{
    {FileFormat::Binary, ".bin"},
    {FileFormat::Binary, ".rom"},
    {FileFormat::Binary, ".img"},
    {FileFormat::IntelHex, ".hex"},
    {FileFormat::IntelHex, ".ihx"},
    {FileFormat::IntelHex, ".ihex"},
    {FileFormat::MotorolaHex, ".s19"},
    {FileFormat::MotorolaHex, ".s28"},
    {FileFormat::MotorolaHex, ".s37"},
    {FileFormat::MotorolaHex, ".srec"},
    {FileFormat::MotorolaHex, ".mot"},
    {FileFormat::AsciiHex, ".txt"},
    {FileFormat::AsciiHex, ".asc"},
    {FileFormat::AsciiHex, ".ascii"},
}};

bool isTextByte(std::uint8_t b) {
  return (b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n' || b == '\t' || b == 0x1A;
}

bool startsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

// Two bytes a character, the zero high byte first (big-endian) or second: text all the way.
bool isUtf16Text(std::string_view bytes, bool bigEndian) {
  if (bytes.size() < 2) return false;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto low = static_cast<std::uint8_t>(bytes[i + (bigEndian ? 1 : 0)]);
    const auto high = static_cast<std::uint8_t>(bytes[i + (bigEndian ? 0 : 1)]);
    if (high != 0 || !isTextByte(low)) return false;
  }
  return true;
}

bool looksUtf16(std::string_view head) {
  if (startsWith(head, "\xFF\xFE")) return isUtf16Text(head.substr(2), false);
  if (startsWith(head, "\xFE\xFF")) return isUtf16Text(head.substr(2), true);
  // Without a mark: at least two characters, every other byte zero.
  return head.size() >= 4 && (isUtf16Text(head, false) || isUtf16Text(head, true));
}

// Text: which kind of line starts it.
ContentLook textLook(std::string_view text) {
  const auto first =
      std::find_if(text.begin(), text.end(), [](char c) { return c != '\r' && c != '\n'; });
  if (first == text.end()) return ContentLook::Empty;
  if (*first == ':') return ContentLook::IntelHex;
  if (*first == 'S' && first + 1 != text.end() &&
      std::isdigit(static_cast<unsigned char>(first[1]))) {
    return ContentLook::MotorolaHex;
  }
  const auto lineEnd =
      std::find_if(first, text.end(), [](char c) { return c == '\r' || c == '\n'; });
  const bool hexDigits = std::all_of(first, lineEnd, [](char c) { return hexDigitValue(c) >= 0; });
  return hexDigits ? ContentLook::AsciiHex : ContentLook::OtherText;
}

bool isTextFormat(FileFormat format) {
  return format != FileFormat::Binary;
}

std::string formatName(FileFormat format) {
  return std::string(fileFormatInfo(static_cast<int>(format)).listItem);
}

}  // namespace

ContentLook lookOf(std::string_view head) {
  if (head.empty()) return ContentLook::Empty;
  if (looksUtf16(head)) return ContentLook::Utf16;
  if (startsWith(head, "\xEF\xBB\xBF")) head.remove_prefix(3);
  if (head.empty()) return ContentLook::Empty;
  const bool text = std::all_of(head.begin(), head.end(),
                                [](char c) { return isTextByte(static_cast<std::uint8_t>(c)); });
  return text ? textLook(head) : ContentLook::Binary;
}

ContentLook lookOf(InputFile& file) {
  return lookOf(file.peek(kHeadSize));
}

std::string_view lookName(ContentLook look) {
  switch (look) {
    case ContentLook::Empty:
      return "empty";
    case ContentLook::Binary:
      return "binary";
    case ContentLook::IntelHex:
      return "Intel Hex";
    case ContentLook::MotorolaHex:
      return "S-records";
    case ContentLook::AsciiHex:
      return "Ascii hex";
    case ContentLook::OtherText:
      return "text";
    case ContentLook::Utf16:
      break;
  }
  return "UTF-16 text";
}

std::optional<FileFormat> formatOfLook(ContentLook look) {
  switch (look) {
    case ContentLook::Binary:
      return FileFormat::Binary;
    case ContentLook::IntelHex:
      return FileFormat::IntelHex;
    case ContentLook::MotorolaHex:
      return FileFormat::MotorolaHex;
    case ContentLook::AsciiHex:
      return FileFormat::AsciiHex;
    default:
      return std::nullopt;
  }
}

std::optional<NamedFormat> formatByName(const std::string& path) {
  const std::string ending = asciiLower(std::filesystem::path(path).extension().string());
  for (const NamedFormat& named : kExtensions) {
    if (named.extension == ending) return named;
  }
  return std::nullopt;
}

std::string utf16Message() {
  return "The file is UTF-16 text, which this program does not read: save it as ASCII (or "
         "UTF-8) text";
}

FormatChoice chooseInputFormat(ContentLook look, const std::string& path,
                               std::optional<FileFormat> asked) {
  if (asked) {
    if (look == ContentLook::Utf16 && isTextFormat(*asked)) throw FileError(utf16Message());
    return {*asked, "as asked", look};
  }
  if (look == ContentLook::Utf16) throw FileError(utf16Message());
  const std::optional<NamedFormat> named = formatByName(path);
  if (const std::optional<FileFormat> seen = formatOfLook(look)) {
    if (*seen == FileFormat::Binary && named && isTextFormat(named->format)) {
      throw FileError("The file's name says " + formatName(named->format) + " (" +
                      named->extension + "), but the file looks binary");
    }
    return {*seen, "by content", look};
  }
  if (named) return {named->format, "by the extension " + named->extension, look};
  return {FileFormat::Binary, "as the default", look};
}

FormatChoice chooseInputFormat(InputFile& file, const std::string& path,
                               std::optional<FileFormat> asked) {
  return chooseInputFormat(lookOf(file), path, asked);
}

FormatChoice chooseOutputFormat(const std::string& path, std::optional<FileFormat> asked) {
  if (asked) return {*asked, "as asked"};
  if (const std::optional<NamedFormat> named = formatByName(path)) {
    return {named->format, "by the extension " + named->extension};
  }
  return {FileFormat::Binary, "as the default"};
}

std::string lookDisagreement(const FormatChoice& choice) {
  const ContentLook look = choice.look;
  if (choice.format == FileFormat::Binary) {
    // Ascii hex may be an image of digits, and text of no known kind may be a ROM's text.
    const bool records = look == ContentLook::IntelHex || look == ContentLook::MotorolaHex ||
                         look == ContentLook::Utf16;
    if (!records) return {};
    return "The file looks like " + std::string(lookName(look)) + ", not binary.";
  }
  if (look != ContentLook::Binary) return {};
  return "The file looks binary, not like " + formatName(choice.format) + ".";
}

LoadReport loadInFormat(ImageBuffer& image, InputFile& file, const FormatChoice& choice) {
  const std::string disagreement = lookDisagreement(choice);
  if (choice.look == ContentLook::Utf16 && isTextFormat(choice.format)) {
    throw FileError(utf16Message());
  }
  LoadReport report;
  try {
    report =
        choice.format == FileFormat::Binary ? loadBinary(image, file) : loadHexText(image, file);
  } catch (const FileError& error) {
    if (disagreement.empty()) throw;
    throw error.withHint(disagreement);
  }
  report.lookNote = disagreement;
  return report;
}

LoadReport loadImageFile(ImageBuffer& image, const std::string& path,
                         std::optional<FileFormat> asked, FormatChoice* chosen) {
  return aboutFile(path, [&] {
    InputFile file(path);
    const FormatChoice choice = chooseInputFormat(file, path, asked);
    if (chosen != nullptr) *chosen = choice;
    return loadInFormat(image, file, choice);
  });
}

}  // namespace tandra
