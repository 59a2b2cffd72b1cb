#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "files/FileFormat.h"
#include "files/FormatGuess.h"
#include "files/Loaders.h"

namespace tandra {
class ImageBuffer;
class InputFile;
class Session;
}  // namespace tandra

namespace tandra::cli {

// A file format and how it was chosen, to be told to the operator: the window's own rule.
using tandra::FormatChoice;

// "bin", "intel", "srec", "ascii"; "auto" (and nothing else) gives nullopt, with `valid` false
// for a word that is none of them.
std::optional<FileFormat> parseFormat(std::string_view word, bool* valid);
// The word for a format, as the option takes it.
std::string_view formatWord(FileFormat format);

// "-": standard input to read from, or standard output to write to.
inline bool isStandardStream(const std::string& path) {
  return path == "-";
}
// Whether `path` writes to the open descriptor: "-" for it, or a name of the same file
// (/dev/stdout, /dev/fd/1, the file standard output was sent to).
bool namesDescriptor(const std::string& path, int descriptor);

// The file to read, opened once: a pipe gives its bytes only once, so the look at its head
// that chooses the format and the load itself read the same open file. "-" is standard input
// (descriptor `standardInput`). Failures throw FileError.
InputFile openInput(const std::string& path, int standardInput);

// A file to read: as asked, else by its content, then by its extension, else binary; a file
// the rule refuses (UTF-16 text, a text name on binary content) throws FileError, with the
// --format that would read it where there is one.
FormatChoice inputFormat(InputFile& file, const std::string& path, std::optional<FileFormat> asked);
// A file to write: as asked, else by its extension, else binary.
FormatChoice outputFormat(const std::string& path, std::optional<FileFormat> asked);

// An image of its own (a socket's, a virtual chip's) through the window's own loaders; failures
// throw FileError naming the file, and when the file did not look like the format it was read in,
// the --format that would read it.
LoadReport loadImage(ImageBuffer& image, InputFile& file, const std::string& path,
                     const FormatChoice& choice);
LoadReport loadImage(ImageBuffer& image, InputFile& file, const std::string& path,
                     FileFormat format);
// The job's own image, into the session's buffer through Session::load, as the window loads
// it; over a bus `busLanes` chips wide when that is asked.
LoadReport loadImage(Session& session, InputFile& file, const std::string& path,
                     const FormatChoice& choice, int busLanes);
// The session's buffer through Session::save; "-" writes to the descriptor `standardOutput`,
// in place.
void saveImage(const Session& session, const std::string& path, FileFormat format,
               int standardOutput);

}  // namespace tandra::cli
