#include "link/Trace.h"

#include <cerrno>

#include "common/FileError.h"
#include "common/HexText.h"

namespace tandra {

std::unique_ptr<Trace> Trace::create(const std::string& path) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) throw FileError(ioMessageForErrno(errno != 0 ? errno : EACCES)).about(path);
  return std::make_unique<Trace>(std::move(file));
}

Trace::Trace(std::ofstream file) : file_(std::move(file)), start_(std::chrono::steady_clock::now()) {
  file_ << kFirstLine << '\n';
}

void Trace::begin(std::string_view what) {
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start_)
                          .count();
  line_.assign(std::to_string(micros)).append(" ").append(what);
}

void Trace::end() {
  line_ += '\n';
  file_ << line_;
}

void Trace::hex(const std::uint8_t* bytes, std::uint32_t count) {
  line_.reserve(line_.size() + 3 * count + 1);
  for (std::uint32_t i = 0; i < count; ++i) {
    line_ += ' ';
    appendHex(line_, bytes[i], 2);
  }
}

void Trace::fact(std::string_view key, std::string_view value) {
  begin("fact");
  line_.append(" ").append(key).append(" ").append(value);
  end();
}

void Trace::event(std::string_view what, std::string_view fields) {
  begin(what);
  if (!fields.empty()) line_.append(" ").append(fields);
  end();
}

void Trace::sent(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t written,
                 std::uint32_t status) {
  begin(">");
  line_.append(" ").append(std::to_string(count)).append(" ").append(std::to_string(written));
  line_.append(" ").append(std::to_string(status));
  hex(bytes, count);
  end();
}

void Trace::received(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t status) {
  begin("<");
  line_.append(" ").append(std::to_string(count)).append(" ").append(std::to_string(status));
  hex(bytes, count);
  end();
}

void Trace::log(std::string_view text) {
  begin("log");
  line_ += ' ';
  for (char c : text) line_ += c == '\r' || c == '\n' ? ' ' : c;  // one event, one line
  end();
  // The log says what the operator saw: it reaches the file even if the program stops next.
  file_.flush();
}

}  // namespace tandra
