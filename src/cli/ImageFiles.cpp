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
  *valid = true;
  const std::string lower = asciiLower(word);
  if (lower == "bin") return FileFormat::Binary;
  if (lower == "intel") return FileFormat::IntelHex;
  if (lower == "srec") return FileFormat::MotorolaHex;
  if (lower == "ascii") return FileFormat::AsciiHex;
  *valid = lower == "auto";
  return std::nullopt;
}

std::string_view formatWord(FileFormat format) {
  switch (format) {
    case FileFormat::IntelHex:
      return "intel";
    case FileFormat::MotorolaHex:
      return "srec";
    case FileFormat::AsciiHex:
      return "ascii";
    case FileFormat::Binary:
      break;
  }
  return "bin";
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

LoadReport loadImage(ImageBuffer& image, InputFile& file, const std::string& path,
                     const FormatChoice& choice) {
  // The text loader reads Intel Hex, S-records and Ascii hex alike, as the window's does.
  return aboutFile(path, [&] {
    LoadReport report;
    try {
      report = loadInFormat(image, file, choice);
    } catch (const FileError& error) {
      throw withFormatToTry(error, choice.look);
    }
    const std::string toTry = formatToTry(choice.look, choice.format);
    if (!report.lookNote.empty() && !toTry.empty()) report.lookNote += " " + toTry + ".";
    return report;
  });
}

LoadReport loadImage(ImageBuffer& image, InputFile& file, const std::string& path,
                     FileFormat format) {
  return loadImage(image, file, path, FormatChoice{format, "as asked", lookOf(file)});
}

void saveImage(const ImageBuffer& image, const std::string& path, FileFormat format,
               int standardOutput) {
  if (!isStandardStream(path)) {
    if (format == FileFormat::Binary) {
      Save_Bin_File(image, path);
    } else {
      Save_Hex_File(image, path, format);
    }
    return;
  }
  aboutFile(path, [&] { writeToDescriptor(standardOutput, savedBytes(image, format)); });
}

}  // namespace tandra::cli
