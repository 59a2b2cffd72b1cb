#pragma once

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

// A write past the file-size limit is made a FileError by letWritesPastTheSizeLimitFail, which
// both programs call at their start.
#include "common/FileSizeLimit.h"
#include "common/ShownName.h"

namespace tandra {

// A file that cannot be opened, read or written, or a text that is not a number: the message is
// what the error box shows.
class FileError : public std::runtime_error {
 public:
  explicit FileError(const std::string& message, long line = 0, std::string notes = {})
      : std::runtime_error(message), line_(line), notes_(std::move(notes)) {}

  // The line of a text file where the load stopped; 0 when no line is to blame.
  long line() const { return line_; }
  // What a load had noted before it stopped (bytes dropped, wrong checksums), one per line.
  const std::string& notes() const { return notes_; }
  // The file it is about, where known.
  const std::string& path() const { return path_; }
  FileError about(const std::string& path) const {
    FileError named(*this);
    named.path_ = path;
    return named;
  }
  // A pipe whose reader went away before all of an image was written to it, as `| head -c 100`
  // does: for a program in a shell's pipeline an end like the signal the shell expects there,
  // not a fault of the file.
  static FileError readerWentAway() {
    FileError gone("The program reading the pipe went away");
    gone.readerGone_ = true;
    return gone;
  }
  bool readerGone() const { return readerGone_; }
  // What the file looked like, when that may be why it failed ("The file looks binary, ...").
  const std::string& hint() const { return hint_; }
  FileError withHint(std::string hint) const {
    FileError hinted(*this);
    hinted.hint_ = std::move(hint);
    return hinted;
  }

 private:
  long line_;
  std::string notes_;
  std::string path_;
  std::string hint_;
  bool readerGone_ = false;
};

// Runs `work` on the file at `path`; a FileError it throws names the file.
template <typename Work>
auto aboutFile(const std::string& path, Work&& work) {
  try {
    return work();
  } catch (const FileError& error) {
    throw error.about(path);
  }
}

// The input/output messages by code: 2 "File not found", 3 "Invalid filename", 4 "Too many
// open files", 5 "File access denied", 100 "Read beyond end of file", 101 "Disk full",
// 106 "Invalid numeric input", any other "I/O error <code>".
inline std::string ioMessage(int code) {
  switch (code) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 100:
      return "Read beyond end of file";
    case 101:
      return "Disk full";
    case 106:
      return "Invalid numeric input";
    default:
      return "I/O error " + std::to_string(code);
  }
}

// A folder named where a file was meant: said as such, not as the access it was denied.
inline std::string folderMessage() {
  return "This is a folder, not a file";
}

// The message for a system error number (errno) met while opening, reading or writing.
inline std::string ioMessageForErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return ioMessage(2);
    case ENAMETOOLONG:
    case EINVAL:
    case EISDIR:
      return ioMessage(3);
    case EMFILE:
    case ENFILE:
      return ioMessage(4);
    case EACCES:
    case EPERM:
    case EROFS:
      return ioMessage(5);
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return ioMessage(101);
    default:
      // A cause the table has no words for is told in the system's own.
      return std::strerror(error);
  }
}

// "'12X' is not a valid integer value": a text that should have been a number.
inline std::string notAnIntegerMessage(std::string_view text) {
  // Appended piece by piece: g++ 12 misreads "'" + std::string(...) as an overlapping copy.
  std::string message(1, '\'');
  return message.append(text).append("' is not a valid integer value");
}

// "'$G1' is not a valid integer value" for the hexadecimal field "G1". Bytes that would not show
// as themselves (control characters, anything beyond ASCII) are written as \xFF.
inline std::string conversionMessage(std::string_view field) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string shown = "$";
  for (char c : field) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) {
      shown += "\\x";
      shown += kDigits[byte >> 4];
      shown += kDigits[byte & 0xF];
    } else {
      shown += c;
    }
  }
  return notAnIntegerMessage(shown);
}

// The text of the error box: the message, with a period added when it does not end in one.
inline std::string boxText(std::string message) {
  if (message.empty() || message.back() != '.') message += '.';
  return message;
}

// The error box of a file: the message, the file under it, what the file looked like, then,
// for a load that had noted something before it stopped, those notes (what was read up to the
// error stays in the buffer).
inline std::string errorBoxText(const FileError& error) {
  std::string text = boxText(error.what());
  if (!error.path().empty()) text += "\n" + shownName(error.path());
  if (!error.hint().empty()) text += "\n" + error.hint();
  if (!error.notes().empty()) {
    text += "\nWhat was read up to the error";
    text += error.line() > 0 ? " on line " + std::to_string(error.line()) : std::string();
    text += " is in the buffer, with these notes:\n" + error.notes();
  }
  return text;
}

}  // namespace tandra
