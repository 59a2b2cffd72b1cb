#include "production/ProductionLog.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

#include "common/FileNames.h"

namespace tandra {

namespace {

#if defined(_WIN32)
int openForAppend(const std::string& path) {
  return ::_wopen(fileSystemPath(path).c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY,
                  _S_IREAD | _S_IWRITE);
}
long writeSome(int descriptor, const char* bytes, std::size_t count) {
  return ::_write(descriptor, bytes, static_cast<unsigned>(count));
}
// Writers of one log take turns. Windows' C library appends by a seek to the end and a write,
// which two programs can interleave, one line over the other: the turn covers both. The lock is
// on a byte far past any log's end, since Windows keeps others from the bytes a lock covers.
OVERLAPPED turnByte() {
  OVERLAPPED at{};
  at.OffsetHigh = 0x40000000;
  return at;
}
bool takeTurn(int descriptor) {
  OVERLAPPED at = turnByte();
  return ::LockFileEx(reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor)),
                      LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
}
void endTurn(int descriptor) {
  OVERLAPPED at = turnByte();
  ::UnlockFileEx(reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor)), 0, 1, 0, &at);
}
#else
int openForAppend(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}
long writeSome(int descriptor, const char* bytes, std::size_t count) {
  return static_cast<long>(::write(descriptor, bytes, count));
}
// Writers of one log take turns, so that a line this one has to take back is its own.
bool takeTurn(int descriptor) {
  return ::flock(descriptor, LOCK_EX) == 0;
}
void endTurn(int descriptor) {
  ::flock(descriptor, LOCK_UN);
}
#endif

// Whether the file's last byte is a line end (an empty file counts as ended).
bool endsWithLineEnd(const std::string& path) {
  const int descriptor =
#if defined(_WIN32)
      ::_wopen(fileSystemPath(path).c_str(), _O_RDONLY | _O_BINARY);
#else
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
  if (descriptor < 0) return true;
  bool ended = true;
#if defined(_WIN32)
  if (::_lseeki64(descriptor, -1, SEEK_END) >= 0) {
    char last = '\n';
    ended = ::_read(descriptor, &last, 1) != 1 || last == '\n';
  }
  ::_close(descriptor);
#else
  struct stat status {};
  if (::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
    char last = '\n';
    ended = ::pread(descriptor, &last, 1, status.st_size - 1) != 1 || last == '\n';
  }
  ::close(descriptor);
#endif
  return ended;
}

// The first line of the file at `path`, without its line end; nothing when it is not a file
// (a device, a pipe) or cannot be read. A header is short: a first line is looked for no
// further than this.
std::optional<std::string> firstLineOf(const std::string& path) {
  constexpr std::size_t kLongest = 4096;
#if defined(_WIN32)
  const int descriptor = ::_open(path.c_str(), _O_RDONLY | _O_BINARY);
  if (descriptor < 0) return std::nullopt;
  std::string text(kLongest, '\0');
  const int got = ::_read(descriptor, text.data(), static_cast<unsigned>(kLongest));
  ::_close(descriptor);
#else
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) return std::nullopt;
  struct stat status {};
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(descriptor);
    return std::nullopt;
  }
  std::string text(kLongest, '\0');
  const ssize_t got = ::pread(descriptor, text.data(), kLongest, 0);
  ::close(descriptor);
#endif
  if (got < 0) return std::nullopt;
  text.resize(static_cast<std::size_t>(got));
  text = text.substr(0, text.find('\n'));
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

std::vector<std::string> cellsOf(const std::string& header) {
  std::vector<std::string> cells;
  std::size_t at = 0;
  for (;;) {
    const std::size_t comma = header.find(',', at);
    cells.push_back(header.substr(at, comma - at));
    if (comma == std::string::npos) return cells;
    at = comma + 1;
  }
}

// Room for the lines of many sets, so that a disk that is full is found before a chip is.
constexpr unsigned long long kLeastRoom = 64 * 1024;

}  // namespace

ProductionLog::ProductionLog(std::string path, LogFormat format)
    : path_(std::move(path)), format_(format) {
  const bool cut = !endsWithLineEnd(path_);
  descriptor_ = openForAppend(path_);
  if (descriptor_ < 0) {
    throw LogError("the log " + path_ + " cannot be opened to append to: " + std::strerror(errno));
  }
  // A log refused here is let go at once: Windows would keep it from being moved or deleted
  // for as long as the program runs, and a script goes on to name another.
  try {
    checkRoom();
    checkForm();
    if (cut) {
      std::size_t written = 0;
      if (!writeAll("\n", &written)) {
        throw LogError("the log " + path_ + " cannot be written: " + lastError_);
      }
      endedCutLine_ = true;
    }
    if (format_ == LogFormat::Csv && isEmpty() && !append(csvHeader())) {
      throw LogError("the log " + path_ + " cannot be written: " + lastError_);
    }
  } catch (...) {
    closeDescriptor();
    throw;
  }
}

void ProductionLog::checkForm() {
  if (format_ == LogFormat::Csv) columns_ = csvColumns();
  const std::optional<std::string> first = firstLineOf(path_);
  if (!first || first->empty()) return;  // a new log, or a device
  // Lines of the other form would make it a file no reader of either can follow.
  const bool header = first->starts_with("schema,");
  const bool json = first->front() == '{';
  const std::string other = ": name a log of its own for these lines";
  if (format_ == LogFormat::JsonLines) {
    if (header) throw LogError("the log " + path_ + " holds CSV lines, not JSON lines" + other);
    return;
  }
  if (json) throw LogError("the log " + path_ + " holds JSON lines, not CSV lines" + other);
  if (!header) {
    throw LogError("the log " + path_ + " does not begin with the line that names its columns" +
                   other);
  }
  // A log an earlier version began goes on with its columns, each line as long as its header.
  columns_ = cellsOf(*first);
  for (const std::string& column : columns_) {
    if (std::find(csvColumns().begin(), csvColumns().end(), column) == csvColumns().end()) {
      throw LogError("the log " + path_ + " has a column no chip's line fills, '" + column + "'" +
                     other);
    }
  }
}

bool ProductionLog::isEmpty() const {
#if defined(_WIN32)
  return ::_lseeki64(descriptor_, 0, SEEK_END) == 0;
#else
  struct stat status {};
  return ::fstat(descriptor_, &status) == 0 && S_ISREG(status.st_mode) && status.st_size == 0;
#endif
}

ProductionLog::~ProductionLog() {
  closeDescriptor();
}

void ProductionLog::closeDescriptor() {
  if (descriptor_ < 0) return;
#if defined(_WIN32)
  ::_close(descriptor_);
#else
  ::close(descriptor_);
#endif
  descriptor_ = -1;
}

void ProductionLog::checkRoom() {
#if !defined(_WIN32)
  struct stat status {};
  if (::fstat(descriptor_, &status) != 0) return;
  if (S_ISREG(status.st_mode)) {
    struct statvfs disk {};
    if (::fstatvfs(descriptor_, &disk) == 0 &&
        static_cast<unsigned long long>(disk.f_bavail) * disk.f_frsize < kLeastRoom) {
      throw LogError("the log " + path_ + " cannot be written: the disk that holds it is full");
    }
  } else if (S_ISCHR(status.st_mode)) {
    // A device shows whether it takes lines only when it is given one: a blank line is the
    // least a reader of the log can be shown.
    std::size_t written = 0;
    if (!writeAll("\n", &written)) {
      throw LogError("the log " + path_ + " cannot be written: " + lastError_);
    }
  }
#endif
}

bool ProductionLog::writeAll(const std::string& bytes, std::size_t* written) {
  *written = 0;
  while (*written < bytes.size()) {
    const long sent = writeSome(descriptor_, bytes.data() + *written, bytes.size() - *written);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) {
      lastError_ = sent < 0 ? std::strerror(errno) : "nothing was taken";
      return false;
    }
    *written += static_cast<std::size_t>(sent);
  }
  return true;
}

bool ProductionLog::append(const std::string& line) {
  // A line cut short by a failed write is ended first: the new line must stand on its own.
  std::string bytes = (lineOpen_ ? "\n" : "") + line + "\n";
  std::size_t written = 0;
  // Writers of one log take turns, so that a line this one has to take back is its own.
  const bool turn = takeTurn(descriptor_);
  const bool whole = writeAll(bytes, &written) && handToDisk();
  if (whole) {
    lineOpen_ = false;
  } else if (written > 0 && !takeBack(written)) {
    lineOpen_ = bytes[written - 1] != '\n';
  }
  if (turn) endTurn(descriptor_);
  return whole;
}

bool ProductionLog::takeBack(std::size_t written) {
  // A line cut at its newline reads as a whole one: a chip the run reports as not logged would
  // stand in the log as passed. What went out of a failed line is taken back where it can be.
#if defined(_WIN32)
  const long long size = ::_lseeki64(descriptor_, 0, SEEK_END);
  if (::GetFileType(reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor_))) != FILE_TYPE_DISK ||
      size < static_cast<long long>(written)) {
    return false;
  }
  return ::_chsize_s(descriptor_, size - static_cast<long long>(written)) == 0;
#else
  struct stat status {};
  if (::fstat(descriptor_, &status) != 0 || !S_ISREG(status.st_mode) ||
      static_cast<std::size_t>(status.st_size) < written) {
    return false;
  }
  return ::ftruncate(descriptor_, status.st_size - static_cast<off_t>(written)) == 0;
#endif
}

bool ProductionLog::handToDisk() {
  // A device or a pipe has no disk to hand a line to.
#if defined(_WIN32)
  struct _stat64 status {};
  if (::_fstat64(descriptor_, &status) != 0 || (status.st_mode & _S_IFREG) == 0) return true;
  if (::_commit(descriptor_) == 0) return true;
#else
  struct stat status {};
  if (::fstat(descriptor_, &status) != 0 || !S_ISREG(status.st_mode)) return true;
  if (::fsync(descriptor_) == 0) return true;
#endif
  lastError_ = std::string("the disk did not take it: ") + std::strerror(errno);
  return false;
}

}  // namespace tandra
