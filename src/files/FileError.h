#pragma once

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
std::string ioMessage(int code);
// The message for a system error number (errno) met while opening, reading or writing.
std::string ioMessageForErrno(int error);
// "'$G1' is not a valid integer value" for the field "G1".
std::string conversionMessage(std::string_view field);
// The text of the error box: the message, with a period added when it does not end in one.
std::string boxText(std::string message);

}  // namespace tandra
