#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "files/ContentLook.h"

namespace tandra {

class ImageBuffer;
class InputFile;
struct LoadReport;

// The image file formats, by the code the format list records.
enum class FileFormat : int { Binary = 0, IntelHex = 1, MotorolaHex = 2, AsciiHex = 3 };

// One image file format: everything the window, tandra-cli and the loaders know of it. The
// format list, the file dialogs' filters, tandra-cli's words, its help and errors, the choice
// of a format by a file's name and look, the loaders and the savers all take it from here.
struct FileFormatInfo {
  FileFormat format;               // the format list's code: append, never renumber
  std::string_view word;           // tandra-cli's --format word and the record's "format"
  std::string_view listItem;       // the format list's text
  std::string_view buttonCaption;  // the File button's caption once it is chosen
  std::string_view name;           // in a sentence: "The file looks like Intel Hex"
  // The file dialogs' default extension, which also names the dialogs' filter it is under.
  std::string_view dialogExtension;
  // The names its files go by, in lower case with the dot; the first ones the filters offer.
  std::array<std::string_view, 5> extensions;
  ContentLook look;  // what its files look like (lookOf)
  bool text;         // read a line at a time, with the progress note
  bool folds;        // a record addressed past the device's end is folded onto it
  // Reads the open file into the image; the text loader is told which text format was asked.
  LoadReport (*load)(ImageBuffer& image, InputFile& file);
  // The bytes a save writes: the device range, or its text.
  std::string (*save)(const ImageBuffer& image);
};

// Every format, in the format list's order.
std::span<const FileFormatInfo> fileFormats();
// The record of a format. Throws std::logic_error for a format the table lacks.
const FileFormatInfo& fileFormatInfo(FileFormat format);
// The record of a format list code; nullptr for a code no format has.
const FileFormatInfo* fileFormatOfCode(int code);
// The format a tandra-cli word names (in any case); nullopt for none.
std::optional<FileFormat> formatOfWord(std::string_view word);
// "bin, intel, srec, ascii": the words, in the list's order.
std::string formatWords();

// One of the file dialogs' filters: "Bin" and "*.Bin *.bin".
struct DialogFilter {
  std::string name;
  std::string patterns;
};
// The dialogs' filters: one for each dialog extension, in the list's order, then "All". With
// `everyName` each offers every name its formats' files go by, as an open dialog may.
std::vector<DialogFilter> dialogFilters(bool everyName);
// The format's filter among them, from 1.
int dialogFilterIndex(FileFormat format);

}  // namespace tandra
