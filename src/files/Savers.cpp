#include "files/Savers.h"

#include <algorithm>

#include "common/FileError.h"
#include "files/Loaders.h"
#include "image/ImageBuffer.h"

namespace tandra {

namespace {

std::string_view deviceRange(const ImageBuffer& image) {
  const auto length = static_cast<std::size_t>(
      std::min<std::int64_t>(std::int64_t{image.deviceEndAddress} + 1, ImageBuffer::kSize));
  return {reinterpret_cast<const char*>(image.data()), length};
}

}  // namespace

std::string deviceRangeBytes(const ImageBuffer& image) {
  return std::string(deviceRange(image));
}

void Save_Bin_File(const ImageBuffer& image, const std::string& path) {
  aboutFile(path, [&] { replaceFile(path, deviceRange(image)); });
}

std::string savedBytes(const ImageBuffer& image, FileFormat format) {
  return fileFormatInfo(format).save(image);
}

std::string hexFileText(const ImageBuffer& image, FileFormat format) {
  return fileFormatInfo(format).text ? savedBytes(image, format) : std::string();
}

void Save_Hex_File(const ImageBuffer& image, const std::string& path, FileFormat format) {
  aboutFile(path, [&] { replaceFile(path, hexFileText(image, format)); });
}

void saveInFormat(const ImageBuffer& image, const std::string& path, FileFormat format) {
  aboutFile(path, [&] { replaceFile(path, savedBytes(image, format)); });
}

}  // namespace tandra
