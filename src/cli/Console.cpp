#include "cli/Console.h"

#include <cerrno>
#include <cstring>

namespace tandra::cli {

void Console::check(std::ostream& stream, bool isRecord) {
  if (stream.good()) return;
  const bool toOut = &stream == &io_.out;
  const std::function<int()>& why = toOut ? io_.outError : io_.errError;
  const int error = why ? why() : 0;
  if (error == EPIPE) readerGone_ = true;
  if (isRecord && recordLost_.empty()) {
    recordLost_ = std::string("the record could not be written to standard ") +
                  (toOut ? "output" : "error") +
                  (error != 0 ? std::string(": ") + std::strerror(error) : std::string());
  }
}

void Console::record(const std::string& text) {
  std::ostream& stream = recordOnErr_ ? io_.err : io_.out;
  stream << text << '\n' << std::flush;
  check(stream, true);
}

void Console::note(const std::string& text) {
  if (!quiet_) warn(text);
}

void Console::warn(const std::string& text) {
  io_.err << text << '\n' << std::flush;
  check(io_.err, false);
}

void Console::progress(const std::string& text) {
  io_.err << text << std::flush;
  check(io_.err, false);
}

}  // namespace tandra::cli
