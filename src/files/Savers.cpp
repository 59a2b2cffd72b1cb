#include "files/Savers.h"

#include <algorithm>

#include "common/FileError.h"
#include "files/TextSaver.h"
#include "image/ImageBuffer.h"

namespace tandra {

namespace {

std::string_view deviceRange(const ImageBuffer& image) {
  const auto length = static_cast<std::size_t>(
      std::min<std::int64_t>(std::int64_t{image.deviceEndAddress} + 1, ImageBuffer::kSize));
  return {reinterpret_cast<const char*>(image.data()), length};
}

}  // namespace

void Save_Bin_File(const ImageBuffer& image, const std::string& path) {
  aboutFile(path, [&] { replaceFile(path, deviceRange(image)); });
}

std::string savedBytes(const ImageBuffer& image, FileFormat format) {
  return format == FileFormat::Binary ? std::string(deviceRange(image))
                                      : hexFileText(image, format);
}

std::string hexFileText(const ImageBuffer& image, FileFormat format) {
  TextSaver saver(image);
  switch (format) {
    case FileFormat::IntelHex:
      saver.Write_Intel_Hex();
      break;
    case FileFormat::MotorolaHex:
      saver.Write_Motorola_Hex();
      break;
    case FileFormat::AsciiHex:
      saver.Write_Ascii_Hex();
      break;
    case FileFormat::Binary:
      break;
  }
  return saver.text();
}

void Save_Hex_File(const ImageBuffer& image, const std::string& path, FileFormat format) {
  aboutFile(path, [&] { replaceFile(path, hexFileText(image, format)); });
}

void saveInFormat(const ImageBuffer& image, const std::string& path, FileFormat format) {
  if (format == FileFormat::Binary) {
    Save_Bin_File(image, path);
  } else {
    Save_Hex_File(image, path, format);
  }
}

}  // namespace tandra
