#include "files/Loaders.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <limits>

#include "common/FileError.h"
#include "files/TextLoader.h"
#include "image/ImageBuffer.h"

namespace tandra {

namespace {

std::ifstream openForReading(const std::string& path) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) throw FileError(ioMessage(5));
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw FileError(ioMessageForErrno(errno != 0 ? errno : ENOENT));
  return in;
}

std::string plural(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string LoadReport::notes() const {
  std::string text;
  const auto add = [&text](const std::string& line) {
    if (!text.empty()) text += "\n";
    text += line;
  };
  if (bytesNotLoaded > 0) {
    add("The file is larger than the device: " + plural(bytesNotLoaded, "byte was", "bytes were") +
        " not loaded.");
  }
  if (bytesOutsideBuffer > 0) {
    add(plural(bytesOutsideBuffer, "byte lay", "bytes lay") + " outside the buffer and " +
        (bytesOutsideBuffer == 1 ? "was" : "were") + " not loaded.");
  }
  if (badChecksums > 0) {
    add(plural(static_cast<std::uint64_t>(badChecksums), "record has", "records have") +
        " a wrong checksum; the first is on line " + std::to_string(firstBadChecksumLine) +
        ". The data was loaded as it stands.");
  }
  return text;
}

LoadReport loadBinary(ImageBuffer& image, std::istream& in) {
  LoadReport report;
  const auto wanted = static_cast<std::streamsize>(
      std::min<std::int64_t>(std::int64_t{image.deviceEndAddress} + 1, ImageBuffer::kSize));
  in.read(reinterpret_cast<char*>(image.data()), wanted);
  if (in.bad()) throw FileError(ioMessage(100));
  if (in.gcount() == wanted) {
    in.clear();
    in.ignore(std::numeric_limits<std::streamsize>::max());
    report.bytesNotLoaded = static_cast<std::uint64_t>(in.gcount());
  }
  return report;
}

LoadReport Load_Bin_File(ImageBuffer& image, const std::string& path) {
  std::ifstream in = openForReading(path);
  return loadBinary(image, in);
}

LoadReport loadHexText(ImageBuffer& image, std::istream& in) {
  LoadReport report;
  TextLoader(image, report).load(in);
  return report;
}

LoadReport Load_Hex_File(ImageBuffer& image, const std::string& path) {
  std::ifstream in = openForReading(path);
  return loadHexText(image, in);
}

}  // namespace tandra
