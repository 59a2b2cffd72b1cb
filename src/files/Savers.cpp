#include "files/Savers.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

#include "common/FileError.h"
#include "files/TextSaver.h"
#include "image/ImageBuffer.h"

namespace tandra {

namespace fs = std::filesystem;

namespace {

std::string temporaryNameBeside(const fs::path& target) {
  std::random_device random;
  std::string name(1, '.');
  name += target.filename().string();
  name += '.';
  name += std::to_string(random() % 1000000);
  name += ".tmp";
  return (target.parent_path() / name).string();
}

// Removes the temporary file unless it was put in place.
struct TemporaryFile {
  std::string path;
  bool kept = false;
  ~TemporaryFile() {
    if (!kept) {
      std::error_code ignored;
      fs::remove(path, ignored);
    }
  }
};

}  // namespace

void replaceFile(const std::string& path, std::string_view bytes) {
  const fs::path target(path);
  std::error_code error;
  if (fs::is_directory(target, error)) throw FileError(ioMessage(5));
  const bool existed = fs::exists(target, error);
  if (existed) {
    // A write-protected file stays protected: it is not replaced behind its back.
    std::FILE* probe = std::fopen(path.c_str(), "r+b");
    if (probe == nullptr) throw FileError(ioMessageForErrno(errno));
    std::fclose(probe);
  }

  TemporaryFile temporary{temporaryNameBeside(target)};
  errno = 0;
  std::FILE* file = std::fopen(temporary.path.c_str(), "wb");
  if (file == nullptr) throw FileError(ioMessageForErrno(errno != 0 ? errno : EACCES));
  const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
  const int writeError = written < bytes.size() ? (errno != 0 ? errno : ENOSPC) : 0;
  const bool closed = std::fclose(file) == 0;
  if (writeError != 0) throw FileError(ioMessageForErrno(writeError));
  if (!closed) throw FileError(ioMessageForErrno(errno != 0 ? errno : ENOSPC));

  if (existed) fs::permissions(temporary.path, fs::status(target, error).permissions(), error);
  fs::rename(temporary.path, target, error);
  if (error) throw FileError(ioMessageForErrno(error.value()));
  temporary.kept = true;
}

void Save_Bin_File(const ImageBuffer& image, const std::string& path) {
  const auto length = static_cast<std::size_t>(
      std::min<std::int64_t>(std::int64_t{image.deviceEndAddress} + 1, ImageBuffer::kSize));
  replaceFile(path, std::string_view(reinterpret_cast<const char*>(image.data()), length));
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
  replaceFile(path, hexFileText(image, format));
}

}  // namespace tandra
