#pragma once

#include <array>
#include <string_view>

namespace tandra {

// The four image file formats, by the code the format list records.
enum class FileFormat : int { Binary = 0, IntelHex = 1, MotorolaHex = 2, AsciiHex = 3 };

struct FileFormatInfo {
  FileFormat format;
  std::string_view listItem;
  std::string_view buttonCaption;
  std::string_view defaultExtension;  // of the file dialogs
  int filterIndex;                    // 1: Bin, 2: Hex, 3: All
};

inline constexpr std::array<FileFormatInfo, 4> kFileFormats{{
    {FileFormat::Binary, "Binary", "Binary File", "Bin", 1},
    {FileFormat::IntelHex, "Intel Hex", "Intel Hex File", "Hex", 2},
    {FileFormat::MotorolaHex, "Motorola Hex", "Motorola Hex File", "Hex", 2},
    {FileFormat::AsciiHex, "Ascii Hex", "Ascii Hex File", "Hex", 2},
}};

// Unknown codes are read as binary.
constexpr const FileFormatInfo& fileFormatInfo(int code) {
  return code >= 1 && code <= 3 ? kFileFormats[static_cast<std::size_t>(code)] : kFileFormats[0];
}

}  // namespace tandra
