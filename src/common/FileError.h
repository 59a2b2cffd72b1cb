#pragma once

#include <cerrno>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tandra {

// A file that cannot be opened, read or written, or a text that is not a number: the message is
// what the error box shows.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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
      return ioMessage(error);
  }
}

// "'12X' is not a valid integer value": a text that should have been a number.
inline std::string notAnIntegerMessage(std::string_view text) {
  return "'" + std::string(text) + "' is not a valid integer value";
}

// "'$G1' is not a valid integer value" for the hexadecimal field "G1".
inline std::string conversionMessage(std::string_view field) {
  return notAnIntegerMessage("$" + std::string(field));
}

// The text of the error box: the message, with a period added when it does not end in one.
inline std::string boxText(std::string message) {
  if (message.empty() || message.back() != '.') message += '.';
  return message;
}

}  // namespace tandra
