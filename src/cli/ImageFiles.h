#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "files/FileFormat.h"
#include "files/Loaders.h"

namespace tandra {
class ImageBuffer;
}

namespace tandra::cli {

// A file format and how it was chosen, to be told to the operator.
struct FormatChoice {
  FileFormat format = FileFormat::Binary;
  std::string how;  // "as asked", "by content", "by the extension .hex", "as the default"
};

// "bin", "intel", "srec", "ascii"; "auto" (and nothing else) gives nullopt, with `valid` false
// for a word that is none of them.
std::optional<FileFormat> parseFormat(std::string_view word, bool* valid);
// The word for a format, as the option takes it.
std::string_view formatWord(FileFormat format);

// A file to read: as asked, else by its content, then by its extension, else binary.
FormatChoice inputFormat(const std::string& path, std::optional<FileFormat> asked);
// A file to write: as asked, else by its extension, else binary.
FormatChoice outputFormat(const std::string& path, std::optional<FileFormat> asked);

// Through the window's own loaders and savers; failures throw FileError.
LoadReport loadImage(ImageBuffer& image, const std::string& path, FileFormat format);
void saveImage(const ImageBuffer& image, const std::string& path, FileFormat format);

}  // namespace tandra::cli
