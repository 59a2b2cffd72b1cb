#include "cli/ImageFiles.h"
#include "common/Words.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <filesystem>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "common/FileError.h"
#include "common/HexText.h"
#include "common/InputFile.h"
#include "device/Session.h"
#include "files/Savers.h"

namespace tandra::cli {

namespace {

// "the file looks binary: --format bin?" from the load's "The file looks binary, not like ...".
FileError withFormatToTry(const FileError& error, ContentLook look) {
  const std::optional<FileFormat> seen = formatOfLook(look);
  if (error.hint().empty() || !seen) return error;
  std::string hint = error.hint();
  if (hint.ends_with('.')) hint.pop_back();
  return error.withHint(hint + ": --format " + std::string(formatWord(*seen)) + "?");
}

// "--format intel reads it as Intel Hex" for a file that looks like a format it was not read in.
std::string formatToTry(ContentLook look, FileFormat read) {
  const std::optional<FileFormat> seen = formatOfLook(look);
  if (!seen || *seen == read) return {};
  return "--format " + std::string(formatWord(*seen)) + " reads it as " +
         std::string(lookName(look));
}

}  // namespace

bool namesDescriptor(const std::string& path, int descriptor) {
  if (isStandardStream(path)) return true;
#if defined(_WIN32)
  (void)descriptor;
  return false;
#else
  struct stat named {};
  struct stat open {};
  return ::stat(path.c_str(), &named) == 0 && ::fstat(descriptor, &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
#endif
}

std::optional<FileFormat> parseFormat(std::string_view word, bool* valid) {
  const std::optional<FileFormat> format = formatOfWord(word);
  *valid = format || asciiLower(word) == "auto";
  return format;
}

std::string_view formatWord(FileFormat format) {
  return fileFormatInfo(format).word;
}

InputFile openInput(const std::string& path, int standardInput) {
  return aboutFile(path, [&] {
    return isStandardStream(path) ? InputFile::fromDescriptor(standardInput) : InputFile(path);
  });
}

FormatChoice inputFormat(InputFile& file, const std::string& path,
                         std::optional<FileFormat> asked) {
  return aboutFile(path, [&] {
    const ContentLook look = lookOf(file);
    try {
      return chooseInputFormat(look, path, asked);
    } catch (const FileError& error) {
      if (look != ContentLook::Binary) throw;
      throw error.withHint("--format bin reads it as binary");
    }
  });
}

FormatChoice outputFormat(const std::string& path, std::optional<FileFormat> asked) {
  return chooseOutputFormat(path, asked);
}

// Whatever the load reads into, a failure names the file, with the --format that would read it,
// and a note of the wrong look says which --format would.
template <typename Load>
LoadReport loadSaying(const std::string& path, const FormatChoice& choice, Load&& load) {
  return aboutFile(path, [&] {
    LoadReport report;
    try {
      report = load();
    } catch (const FileError& error) {
      throw withFormatToTry(error, choice.look);
    }
    const std::string toTry = formatToTry(choice.look, choice.format);
    if (!report.lookNote.empty() && !toTry.empty()) report.lookNote += " " + toTry + ".";
    return report;
  });
}

LoadReport loadImage(ImageBuffer& image, InputFile& file, const std::string& path,
                     const FormatChoice& choice) {
  return loadSaying(path, choice, [&] { return loadInFormat(image, file, choice); });
}

LoadReport loadImage(ImageBuffer& image, InputFile& file, const std::string& path,
                     FileFormat format) {
  return loadImage(image, file, path, FormatChoice{format, "as asked", lookOf(file)});
}

LoadReport loadImage(Session& session, InputFile& file, const std::string& path,
                     const FormatChoice& choice, int busLanes) {
  std::error_code ignored;
  const std::string name =
      isStandardStream(path) ? path : std::filesystem::absolute(path, ignored).string();
  return loadSaying(path, choice, [&] { return session.load(file, name, choice, busLanes); });
}

void saveImage(const Session& session, const std::string& path, FileFormat format,
               int standardOutput) {
  if (!isStandardStream(path)) {
    session.save(path, format);
    return;
  }
  aboutFile(path, [&] { session.saveTo(standardOutput, format); });
}

}  // namespace tandra::cli
