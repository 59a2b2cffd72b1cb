#include "files/FileError.h"

#include <cerrno>

namespace tandra {

std::string ioMessage(int code) {
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

std::string ioMessageForErrno(int error) {
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
    case EDQUOT:
      return ioMessage(101);
    default:
      return ioMessage(error);
  }
}

std::string conversionMessage(std::string_view field) {
  return "'$" + std::string(field) + "' is not a valid integer value";
}

std::string boxText(std::string message) {
  if (message.empty() || message.back() != '.') message += '.';
  return message;
}

}  // namespace tandra
