#include "link/Trace.h"

#include <cerrno>
#include <ctime>

#if !defined(_WIN32)
#include <sys/utsname.h>
#endif

#include "common/FileError.h"
#include "common/FileNames.h"
#include "common/HexText.h"
#include "common/RunId.h"
#include "common/TimeText.h"

namespace tandra {

std::unique_ptr<Trace> Trace::create(const std::string& path) {
  std::ofstream file(fileSystemPath(path), std::ios::binary | std::ios::trunc);
  if (!file) throw FileError(ioMessageForErrno(errno != 0 ? errno : EACCES)).about(path);
  return std::make_unique<Trace>(std::move(file));
}

Trace::Trace(std::ofstream file)
    : file_(std::move(file)), start_(std::chrono::steady_clock::now()) {
  line_.assign(kFirstLine);
  end();
}

void Trace::begin(std::string_view what) {
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start_)
                          .count();
  line_.assign(std::to_string(micros)).append(" ").append(what);
}

void Trace::end() {
  line_ += '\n';
  errno = 0;
  file_ << line_;
  // Every event reaches the file at once: a program killed or crashing keeps its trace whole
  // up to its last event, which is what its maintainer needs most.
  file_.flush();
  if (!file_ && !lost_) lost_ = ioMessageForErrno(errno != 0 ? errno : EIO);
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

void Trace::startFacts(std::string_view program) {
  fact("program", program);
  fact("run", runId());
  fact("started", isoTime(std::chrono::system_clock::now()));
#if defined(_WIN32)
  fact("os", "Windows");
#else
  utsname system{};
  if (::uname(&system) == 0) {
    fact("os", std::string(system.sysname) + " " + system.release + " " + system.machine);
  }
#endif
}

void Trace::shown(std::string_view what, std::string_view text) {
  begin(what);
  line_ += ' ';
  for (char c : text) line_ += c == '\r' || c == '\n' ? ' ' : c;  // one event, one line
  end();
}

void Trace::socketShown(int socket, std::string_view look, std::string_view words) {
  shown("socket", std::to_string(socket) + " " + std::string(look) + " " + std::string(words));
}

void Trace::boxShown(BoxKind kind, std::string_view text) {
  const char* word = kind == BoxKind::Error     ? "error"
                     : kind == BoxKind::Warning ? "warning"
                                                : "information";
  shown("box", std::string(word) + " " + std::string(text));
}

void Trace::questionAnswered(std::string_view text, bool yes) {
  shown("question", text);
  shown("answer", yes ? "yes" : "no");
}

void Trace::updateFileChosen(const std::optional<std::string>& path) {
  shown("update-file", path ? *path : std::string("none"));
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

void Trace::received(const std::uint8_t* bytes, std::uint32_t asked, std::uint32_t got,
                     std::uint32_t status) {
  begin(draining_ ? "drain" : "<");
  line_.append(" ").append(std::to_string(asked)).append(" ").append(std::to_string(got));
  line_.append(" ").append(std::to_string(status));
  hex(bytes, got);
  end();
}

void Trace::log(std::string_view text) {
  begin("log");
  line_ += ' ';
  for (char c : text) line_ += c == '\r' || c == '\n' ? ' ' : c;  // one event, one line
  end();
}

}  // namespace tandra
