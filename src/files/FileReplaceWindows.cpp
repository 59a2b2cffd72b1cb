// Replacing a file on Windows: a temporary file beside it, moved over it when complete.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

#include "common/FileError.h"
#include "files/Savers.h"

namespace tandra {

namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, std::string_view bytes, const char* mode) {
  errno = 0;
  std::FILE* file = _wfopen(path.c_str(), mode[0] == 'w' ? L"wb" : L"r+b");
  if (file == nullptr) throw FileError(ioMessageForErrno(errno != 0 ? errno : EACCES));
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int error = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) throw FileError(ioMessageForErrno(error != 0 ? error : ENOSPC));
}

}  // namespace

void writeToDescriptor(int descriptor, std::string_view bytes) {
  ::_setmode(descriptor, _O_BINARY);  // no line ends turned into CR LF
  while (!bytes.empty()) {
    const int written =
        ::_write(descriptor, bytes.data(), static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1 << 30)));
    if (written <= 0) throw FileError(ioMessageForErrno(written < 0 ? errno : ENOSPC));
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

void replaceFile(const std::string& path, std::string_view bytes) {
  const fs::path target = fs::u8path(path);
  std::error_code error;
  if (fs::is_directory(target, error)) throw FileError(ioMessage(5));
  const bool existed = fs::exists(target, error);
  if (existed && !fs::is_regular_file(target, error)) {
    writeFile(target, bytes, "r+");  // a device is written, never replaced
    return;
  }
  const fs::path temporary =
      target.parent_path() / (".tandra-" + std::to_string(std::random_device()() % 1000000));
  try {
    writeFile(temporary, bytes, "w");
  } catch (const FileError&) {
    fs::remove(temporary, error);
    // A folder that takes no new file: the file itself is written, at the risk of its old
    // contents should the save fail half-way.
    if (!existed) throw;
    writeFile(target, bytes, "w");
    return;
  }
  fs::rename(temporary, target, error);  // replaces the old file in one step
  if (error) {
    fs::remove(temporary, error);
    throw FileError(ioMessage(5));
  }
}

}  // namespace tandra
