#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "files/ContentLook.h"
#include "files/FileFormat.h"
#include "files/Loaders.h"

namespace tandra {

class ImageBuffer;
class InputFile;

// The format a file's name says by its extension (.hex, .s19, .bin, ...), and the extension.
struct NamedFormat {
  FileFormat format;
  std::string_view extension;  // in lower case, with its dot
};
std::optional<NamedFormat> formatByName(const std::string& path);

// A file format, how it was chosen, and what the file looked like.
struct FormatChoice {
  FileFormat format = FileFormat::Binary;
  std::string how;  // "as asked", "by content", "by the extension .hex", "as the default"
  ContentLook look = ContentLook::Empty;
  std::string_view extension = {};  // the name's, when it chose the format
};

// The format to read a file in: as asked; else binary when its name says binary; else by its
// content, then by the extension of its name, else binary. Throws FileError for an executable
// or an archive and for UTF-16 text (unless binary was asked for), and for a file whose name
// says text but whose content is binary: neither reading would be what the operator meant, so
// neither is done without being asked.
FormatChoice chooseInputFormat(ContentLook look, const std::string& path,
                               std::optional<FileFormat> asked);
FormatChoice chooseInputFormat(InputFile& file, const std::string& path,
                               std::optional<FileFormat> asked);
// A file to write: as asked, else by its extension, else binary.
FormatChoice chooseOutputFormat(const std::string& path, std::optional<FileFormat> asked);

// "The file looks binary, not like Intel Hex." when the format read and the file's look are
// not of one kind (records or an executable read as binary, binary read as records; text of a
// format the loader reads in a file that is binary by its name); "" when they agree.
std::string lookDisagreement(const FormatChoice& choice);
// Why UTF-16 text is not read, for the error box.
std::string utf16Message();

// Loads an open file in the chosen format. A look that disagrees with the format is a note of
// the load, and the hint of the error when the load fails.
LoadReport loadInFormat(ImageBuffer& image, InputFile& file, const FormatChoice& choice);
// Opens the file, chooses its format (as asked, or by the rule above) and loads it; the choice
// is given back in `chosen`. Failures throw FileError naming the file.
LoadReport loadImageFile(ImageBuffer& image, const std::string& path,
                         std::optional<FileFormat> asked, FormatChoice* chosen = nullptr);

}  // namespace tandra
