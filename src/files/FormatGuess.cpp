#include "files/FormatGuess.h"
#include "common/Words.h"

#include <filesystem>

#include "common/FileError.h"
#include "common/InputFile.h"

namespace tandra {

namespace {

bool isTextFormat(FileFormat format) {
  return fileFormatInfo(format).text;
}

std::string formatName(FileFormat format) {
  return std::string(fileFormatInfo(format).listItem);
}

FormatChoice byName(const NamedFormat& named, ContentLook look) {
  return {named.format, "by the extension " + std::string(named.extension), look, named.extension};
}

// What cannot be read in a text format at all.
void refuseAsText(ContentLook look) {
  if (look == ContentLook::Utf16) throw FileError(utf16Message());
  if (isContainer(look)) throw FileError(containerMessage(look));
}

}  // namespace

std::optional<NamedFormat> formatByName(const std::string& path) {
  const std::string ending = asciiLower(std::filesystem::path(path).extension().string());
  if (ending.empty()) return std::nullopt;
  for (const FileFormatInfo& info : fileFormats()) {
    for (const std::string_view extension : info.extensions) {
      if (extension == ending) return NamedFormat{info.format, extension};
    }
  }
  return std::nullopt;
}

std::string utf16Message() {
  return "The file is UTF-16 text, which this program does not read: save it as ASCII (or "
         "UTF-8) text";
}

FormatChoice chooseInputFormat(ContentLook look, const std::string& path,
                               std::optional<FileFormat> asked) {
  if (asked) {
    if (isTextFormat(*asked)) refuseAsText(look);
    return {*asked, "as asked", look};
  }
  refuseAsText(look);
  const std::optional<NamedFormat> named = formatByName(path);
  // A name that says binary is taken at its word: an image may hold any bytes, text too.
  if (named && named->format == FileFormat::Binary) return byName(*named, look);
  if (const std::optional<FileFormat> seen = formatOfLook(look)) {
    if (*seen == FileFormat::Binary && named) {
      throw FileError("The file's name says " + formatName(named->format) + " (" +
                      std::string(named->extension) + "), but the file looks binary");
    }
    return {*seen, "by content", look};
  }
  if (named) return byName(*named, look);
  return {FileFormat::Binary, "as the default", look};
}

FormatChoice chooseInputFormat(InputFile& file, const std::string& path,
                               std::optional<FileFormat> asked) {
  return chooseInputFormat(lookOf(file), path, asked);
}

FormatChoice chooseOutputFormat(const std::string& path, std::optional<FileFormat> asked) {
  if (asked) return {*asked, "as asked"};
  if (const std::optional<NamedFormat> named = formatByName(path)) {
    return byName(*named, ContentLook::Empty);
  }
  return {FileFormat::Binary, "as the default"};
}

std::string lookDisagreement(const FormatChoice& choice) {
  const ContentLook look = choice.look;
  const std::string looks(lookName(look));
  if (choice.format == FileFormat::Binary) {
    // Ascii hex may be an image of digits, and text of no known kind may be a ROM's text: only
    // a name that says binary has them told, for the loader would read them as records.
    const bool records = look == ContentLook::IntelHex || look == ContentLook::MotorolaHex;
    if (!choice.extension.empty() && (records || look == ContentLook::AsciiHex)) {
      return "The file's name says binary (" + std::string(choice.extension) +
             "), but the file looks like " + looks + ": it was read as binary.";
    }
    if (!records && look != ContentLook::Utf16 && !isContainer(look)) return {};
    return "The file looks like " + looks + ", not binary.";
  }
  if (look != ContentLook::Binary) return {};
  return "The file looks binary, not like " + formatName(choice.format) + ".";
}

LoadReport loadInFormat(ImageBuffer& image, InputFile& file, const FormatChoice& choice) {
  const std::string disagreement = lookDisagreement(choice);
  if (isTextFormat(choice.format)) refuseAsText(choice.look);
  LoadReport report;
  try {
    report = fileFormatInfo(choice.format).load(image, file);
  } catch (const FileError& error) {
    if (disagreement.empty()) throw;
    throw error.withHint(disagreement);
  }
  report.lookNote = disagreement;
  return report;
}

LoadReport loadImageFile(ImageBuffer& image, const std::string& path,
                         std::optional<FileFormat> asked, FormatChoice* chosen) {
  return aboutFile(path, [&] {
    InputFile file(path);
    const FormatChoice choice = chooseInputFormat(file, path, asked);
    if (chosen != nullptr) *chosen = choice;
    return loadInFormat(image, file, choice);
  });
}

}  // namespace tandra
