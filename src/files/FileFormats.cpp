// The table of image file formats: add a format here, with its loader and saver.
#include <algorithm>
#include <stdexcept>

#include "common/Words.h"
#include "files/FileFormat.h"
#include "files/Loaders.h"
#include "files/Savers.h"
#include "files/TextSaver.h"
#include "image/ImageBuffer.h"

namespace tandra {

namespace {

template <void (TextSaver::*write)()>
std::string textOf(const ImageBuffer& image) {
  TextSaver saver(image);
  (saver.*write)();
  return saver.text();
}

template <FileFormat asked>
LoadReport textLoad(ImageBuffer& image, InputFile& file) {
  return loadText(image, file, asked);
}

const std::array<FileFormatInfo, 4> kFileFormats{{
    {.format = FileFormat::Binary,
     .word = "bin",
     .listItem = "Binary",
     .buttonCaption = "Binary File",
     .name = "binary",
     .dialogExtension = "Bin",
     .extensions = {".bin", ".rom", ".img"},
     .look = ContentLook::Binary,
     .text = false,
     .folds = false,
     .load = loadBinary,
     .save = deviceRangeBytes},
    {.format = FileFormat::IntelHex,
     .word = "intel",
     .listItem = "Intel Hex",
     .buttonCaption = "Intel Hex File",
     .name = "Intel Hex",
     .dialogExtension = "Hex",
     .extensions = {".hex", ".ihx", ".ihex"},
     .look = ContentLook::IntelHex,
     .text = true,
     .folds = true,
     .load = textLoad<FileFormat::IntelHex>,
     .save = textOf<&TextSaver::Write_Intel_Hex>},
    {.format = FileFormat::MotorolaHex,
     .word = "srec",
     .listItem = "Motorola Hex",
     .buttonCaption = "Motorola Hex File",
     .name = "S-records",
     .dialogExtension = "Hex",
     .extensions = {".s19", ".s28", ".s37", ".srec", ".mot"},
     .look = ContentLook::MotorolaHex,
     .text = true,
     .folds = true,
     .load = textLoad<FileFormat::MotorolaHex>,
     .save = textOf<&TextSaver::Write_Motorola_Hex>},
    {.format = FileFormat::AsciiHex,
     .word = "ascii",
     .listItem = "Ascii Hex",
     .buttonCaption = "Ascii Hex File",
     .name = "Ascii hex",
     .dialogExtension = "Hex",
     .extensions = {".txt", ".asc", ".ascii"},
     .look = ContentLook::AsciiHex,
     .text = true,
     .folds = false,
     .load = textLoad<FileFormat::AsciiHex>,
     .save = textOf<&TextSaver::Write_Ascii_Hex>},
}};

// The dialog extensions, each once, in the list's order.
std::vector<std::string_view> dialogGroups() {
  std::vector<std::string_view> groups;
  for (const FileFormatInfo& info : kFileFormats) {
    if (std::find(groups.begin(), groups.end(), info.dialogExtension) == groups.end()) {
      groups.push_back(info.dialogExtension);
    }
  }
  return groups;
}

void addPattern(std::string& patterns, std::string_view extension) {
  const std::string pattern = "*" + std::string(extension);
  if (patterns.find(pattern + " ") != std::string::npos || patterns.ends_with(pattern)) return;
  if (!patterns.empty()) patterns += " ";
  patterns += pattern;
}

}  // namespace

std::span<const FileFormatInfo> fileFormats() {
  return kFileFormats;
}

const FileFormatInfo& fileFormatInfo(FileFormat format) {
  for (const FileFormatInfo& info : kFileFormats) {
    if (info.format == format) return info;
  }
  throw std::logic_error("file format " + std::to_string(static_cast<int>(format)) +
                         " has no record in the table of formats");
}

const FileFormatInfo* fileFormatOfCode(int code) {
  for (const FileFormatInfo& info : kFileFormats) {
    if (static_cast<int>(info.format) == code) return &info;
  }
  return nullptr;
}

std::optional<FileFormat> formatOfWord(std::string_view word) {
  const std::string lower = asciiLower(word);
  for (const FileFormatInfo& info : kFileFormats) {
    if (info.word == lower) return info.format;
  }
  return std::nullopt;
}

std::string formatWords() {
  std::string words;
  for (const FileFormatInfo& info : kFileFormats) {
    if (!words.empty()) words += ", ";
    words += info.word;
  }
  return words;
}

std::vector<DialogFilter> dialogFilters(bool everyName) {
  std::vector<DialogFilter> filters;
  for (const std::string_view group : dialogGroups()) {
    DialogFilter filter{std::string(group), {}};
    addPattern(filter.patterns, "." + std::string(group));
    addPattern(filter.patterns, asciiLower("." + std::string(group)));
    for (const FileFormatInfo& info : kFileFormats) {
      if (info.dialogExtension != group || !everyName) continue;
      for (const std::string_view extension : info.extensions) {
        if (!extension.empty()) addPattern(filter.patterns, extension);
      }
    }
    filters.push_back(std::move(filter));
  }
  filters.push_back({"All", "*"});
  return filters;
}

int dialogFilterIndex(FileFormat format) {
  const std::vector<std::string_view> groups = dialogGroups();
  const auto at = std::find(groups.begin(), groups.end(), fileFormatInfo(format).dialogExtension);
  return static_cast<int>(at - groups.begin()) + 1;
}

}  // namespace tandra
