#include "cli/ImageFiles.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <filesystem>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "common/FileError.h"
#include "common/HexText.h"
#include "common/InputFile.h"
#include "files/Savers.h"

namespace tandra::cli {

namespace {

struct Extension {
  std::string_view ending;
  FileFormat format;
};

constexpr std::array<Extension, 14> kExtensions{{
    {".bin", FileFormat::Binary},
    {".rom", FileFormat::Binary},
    {".img", FileFormat::Binary},
    {".hex", FileFormat::IntelHex},
    {".ihx", FileFormat::IntelHex},
    {".ihex", FileFormat::IntelHex},
    {".s19", FileFormat::MotorolaHex},
    {".s28", FileFormat::MotorolaHex},
    {".s37", FileFormat::MotorolaHex},
    {".srec", FileFormat::MotorolaHex},
    {".mot", FileFormat::MotorolaHex},
    {".txt", FileFormat::AsciiHex},
    {".asc", FileFormat::AsciiHex},
    {".ascii", FileFormat::AsciiHex},
}};

std::string lowered(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

std::optional<FormatChoice> byExtension(const std::string& path) {
  const std::string ending = lowered(std::filesystem::path(path).extension().string());
  for (const Extension& extension : kExtensions) {
    if (extension.ending == ending) {
      return FormatChoice{extension.format, "by the extension " + ending};
    }
  }
  return std::nullopt;
}

// What the first bytes of a file say: text or not, and which kind of line starts it.
std::optional<FileFormat> byContent(InputFile& file) {
  const std::string_view head = file.peek(4096);
  const auto begin = reinterpret_cast<const std::uint8_t*>(head.data());
  const auto end = begin + head.size();
  const bool text = std::all_of(begin, end, [](std::uint8_t b) {
    return (b >= 0x20 && b < 0x7F) || b == '\r' || b == '\n' || b == '\t' || b == 0x1A;
  });
  if (!text) return FileFormat::Binary;
  const auto first =
      std::find_if(begin, end, [](std::uint8_t b) { return b != '\r' && b != '\n'; });
  if (first == end) return std::nullopt;
  if (*first == ':') return FileFormat::IntelHex;
  if (*first == 'S' && first + 1 != end && std::isdigit(first[1])) return FileFormat::MotorolaHex;
  const auto lineEnd =
      std::find_if(first, end, [](std::uint8_t b) { return b == '\r' || b == '\n'; });
  const bool hexDigits = std::all_of(
      first, lineEnd, [](std::uint8_t b) { return hexDigitValue(static_cast<char>(b)) >= 0; });
  if (hexDigits) return FileFormat::AsciiHex;
  return std::nullopt;
}

}  // namespace

bool namesDescriptor(const std::string& path, int descriptor) {
  if (isStandardStream(path)) return true;
#if defined(_WIN32)
  (void)descriptor;
  return false;
#else
  struct stat named {};
  struct stat open {};
  return ::stat(path.c_str(), &named) == 0 && ::fstat(descriptor, &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
#endif
}

std::optional<FileFormat> parseFormat(std::string_view word, bool* valid) {
  *valid = true;
  const std::string lower = lowered(word);
  if (lower == "bin") return FileFormat::Binary;
  if (lower == "intel") return FileFormat::IntelHex;
  if (lower == "srec") return FileFormat::MotorolaHex;
  if (lower == "ascii") return FileFormat::AsciiHex;
  *valid = lower == "auto";
  return std::nullopt;
}

std::string_view formatWord(FileFormat format) {
  switch (format) {
    case FileFormat::IntelHex:
      return "intel";
    case FileFormat::MotorolaHex:
      return "srec";
    case FileFormat::AsciiHex:
      return "ascii";
    case FileFormat::Binary:
      break;
  }
  return "bin";
}

InputFile openInput(const std::string& path, int standardInput) {
  return aboutFile(path, [&] {
    return isStandardStream(path) ? InputFile::fromDescriptor(standardInput) : InputFile(path);
  });
}

FormatChoice inputFormat(InputFile& file, const std::string& path,
                         std::optional<FileFormat> asked) {
  if (asked) return {*asked, "as asked"};
  const std::optional<FileFormat> seen = aboutFile(path, [&] { return byContent(file); });
  if (seen) return {*seen, "by content"};
  if (std::optional<FormatChoice> named = byExtension(path)) return *named;
  return {FileFormat::Binary, "as the default"};
}

FormatChoice outputFormat(const std::string& path, std::optional<FileFormat> asked) {
  if (asked) return {*asked, "as asked"};
  if (std::optional<FormatChoice> named = byExtension(path)) return *named;
  return {FileFormat::Binary, "as the default"};
}

LoadReport loadImage(ImageBuffer& image, InputFile& file, const std::string& path,
                     FileFormat format) {
  // The text loader reads Intel Hex, S-records and Ascii hex alike, as the window's does.
  return aboutFile(path, [&] {
    return format == FileFormat::Binary ? loadBinary(image, file) : loadHexText(image, file);
  });
}

void saveImage(const ImageBuffer& image, const std::string& path, FileFormat format,
               int standardOutput) {
  if (!isStandardStream(path)) {
    if (format == FileFormat::Binary) {
      Save_Bin_File(image, path);
    } else {
      Save_Hex_File(image, path, format);
    }
    return;
  }
  aboutFile(path, [&] { writeToDescriptor(standardOutput, savedBytes(image, format)); });
}

}  // namespace tandra::cli
