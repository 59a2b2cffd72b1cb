#pragma once

#include <string>
#include <string_view>

#include "files/FileFormat.h"

namespace tandra {

class ImageBuffer;

// Every format covers image buffer addresses 0 through the device end address. A save writes a
// temporary file beside the target and puts it in the target's place only when it is complete,
// so a failed save never destroys the file that was there. Failures throw FileError.
void Save_Bin_File(const ImageBuffer& image, const std::string& path);
void Save_Hex_File(const ImageBuffer& image, const std::string& path, FileFormat format);

// The image saved in `format`: binary, or one of the text formats.
void saveInFormat(const ImageBuffer& image, const std::string& path, FileFormat format);

// The text a text save writes (CR LF line ends, upper-case digits).
std::string hexFileText(const ImageBuffer& image, FileFormat format);
// The bytes a save in `format` writes: the device range itself, or the text.
std::string savedBytes(const ImageBuffer& image, FileFormat format);

// Writes `bytes` to `path` through a temporary file in the same folder.
void replaceFile(const std::string& path, std::string_view bytes);
// Writes all of `bytes` to an open descriptor (standard output), as it stands.
void writeToDescriptor(int descriptor, std::string_view bytes);

}  // namespace tandra
