#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tandra {

class InputFile;
enum class FileFormat : int;

// What the first bytes of a file look like.
enum class ContentLook {
  Empty,        // nothing, or only a byte-order mark
  Binary,       // bytes that are no text
  IntelHex,     // text whose first line starts with ':'
  MotorolaHex,  // text whose first line starts with 'S' and a digit
  AsciiHex,     // text whose first line is hexadecimal digits
  OtherText,    // text that starts some other way
  Utf16,        // text with two bytes a character, which the loaders do not read
  // Files that hold an image only once a tool has taken it out of them.
  ElfExecutable,
  WindowsExecutable,
  ZipArchive,
  GzipArchive,
  XzArchive,
  Bzip2Archive,
  SevenZipArchive,
};

// The look of a file's head (its first few KiB). A UTF-8 byte-order mark is passed over, and
// nothing after a Ctrl-Z is looked at, as the loader reads nothing after it. Text is printable
// ASCII, UTF-8, tabs, form feeds and line ends; a file whose first line is a whole record stays
// a record file whatever bytes come after that line (padding after the end record, or damage
// the loader will name by its line). Text of another kind is a record file when a whole record
// line follows its first lines (a comment before the records). UTF-16 text is told by its
// byte-order mark, or by every other byte being zero, and only when what follows is text: an
// image that merely begins with FF FE is binary.
ContentLook lookOf(std::string_view head);
// The same for a file about to be loaded: its head is peeked, so that the load still reads it.
ContentLook lookOf(InputFile& file);
// "binary", "Intel Hex", "S-records", "Ascii hex", "text", "UTF-16 text", "empty", "an ELF
// executable", "a zip archive", ...: what "The file looks like ..." says.
std::string_view lookName(ContentLook look);
// The format a look is read in, when it says one.
std::optional<FileFormat> formatOfLook(ContentLook look);
// An executable or an archive: never read as an image unless binary is asked for.
bool isContainer(ContentLook look);
// Why such a file is not read, and what makes an image of it.
std::string containerMessage(ContentLook look);

}  // namespace tandra
