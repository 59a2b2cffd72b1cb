#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "common/FileError.h"
#include "files/Loaders.h"
#include "image/ImageBuffer.h"

namespace tandra::test {

// Why a case stands skipped on Windows.
inline constexpr const char* kNoModesOnWindows =
    "Windows files have attributes and access lists, not POSIX modes (WindowsFilesTest checks "
    "what a save keeps there)";
inline constexpr const char* kNoSpecialFilesOnWindows =
    "Windows keeps no named pipes, device nodes or symbolic links of a user's in its folders";

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A scratch folder of its own for each test, removed afterwards.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("tandra-files-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
#if defined(_WIN32)
    // Windows removes no read-only file.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ignored);
    }
#endif
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string file(const std::string& name) const {
    return (path_ / name).string();
  }
  const std::filesystem::path& path() const {
    return path_;
  }

  // Runs a shell command line in the folder; a failure carries the command's error output.
  ::testing::AssertionResult run(const std::string& command) const;

 private:
  std::filesystem::path path_;
};

inline std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

inline ::testing::AssertionResult ScratchFolder::run(const std::string& command) const {
  const std::string line =
      "cd " + shellQuoted(path_.string()) + " && ( " + command + " ) 2>tool-errors.txt";
  const int status = std::system(line.c_str());
  if (status == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << command << "\nfailed with status " << status << ":\n"
                                       << readFile(file("tool-errors.txt"));
}

inline ImageBuffer imageFor(std::int32_t deviceEnd, std::uint8_t fill = 0x00) {
  ImageBuffer image;
  std::fill(image.data(), image.data() + ImageBuffer::kSize, fill);
  image.deviceEndAddress = deviceEnd;
  return image;
}

inline LoadReport loadText(ImageBuffer& image, const std::string& text) {
  std::istringstream in(text);
  return loadText(image, in);
}

// The message of the FileError a load throws, or "" when it throws none.
inline std::string loadError(ImageBuffer& image, const std::string& text) {
  try {
    loadText(image, text);
  } catch (const FileError& error) {
    return error.what();
  }
  return {};
}

}  // namespace tandra::test
