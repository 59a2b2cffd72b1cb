#include "common/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#if defined(_WIN32)
#include <io.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

#include "common/FileError.h"

namespace tandra {

namespace {

// How long a pipe may keep quiet before its data is taken to be complete.
constexpr int kQuietPipeMs = 500;

}  // namespace

#if defined(_WIN32)

InputFile::InputFile(const std::string& path) {
  std::error_code ignored;
  if (std::filesystem::is_directory(std::filesystem::u8path(path), ignored)) {
    throw FileError(ioMessage(5));
  }
  fd_ = ::_wopen(std::filesystem::u8path(path).c_str(), _O_RDONLY | _O_BINARY);
  if (fd_ < 0) throw FileError(ioMessageForErrno(errno));
  struct _stat64 status {};
  if (::_fstat64(fd_, &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG) {
    regular_ = true;
    size_ = static_cast<std::uint64_t>(status.st_size);
  }
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::_close(fd_);
}

std::size_t InputFile::readOnce(std::uint8_t* into, std::size_t count) {
  const int got = ::_read(fd_, into, static_cast<unsigned>(std::min<std::size_t>(count, 1 << 30)));
  if (got < 0) throw FileError(ioMessageForErrno(errno));
  return static_cast<std::size_t>(got);
}

#else

InputFile::InputFile(const std::string& path) {
  // Non-blocking, so that a pipe without a writer does not hold the window at the open.
  fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) throw FileError(ioMessageForErrno(errno));
  struct stat status {};
  if (::fstat(fd_, &status) != 0) {
    const int error = errno;
    ::close(fd_);
    throw FileError(ioMessageForErrno(error));
  }
  if (S_ISDIR(status.st_mode)) {
    ::close(fd_);
    throw FileError(ioMessage(5));
  }
  regular_ = S_ISREG(status.st_mode);
  size_ = static_cast<std::uint64_t>(status.st_size);
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t InputFile::readOnce(std::uint8_t* into, std::size_t count) {
  for (;;) {
    const ssize_t got = ::read(fd_, into, count);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A pipe with nothing in it just now: wait a little for more, then call it the end.
      pollfd waiting{fd_, POLLIN, 0};
      if (::poll(&waiting, 1, kQuietPipeMs) > 0) continue;
      return 0;
    }
    throw FileError(ioMessageForErrno(errno));
  }
}

#endif

std::size_t InputFile::read(std::uint8_t* into, std::size_t count) {
  std::size_t total = 0;
  while (total < count && !atEnd_) {
    const std::size_t got = readOnce(into + total, count - total);
    if (got == 0) atEnd_ = true;
    total += got;
  }
  position_ += total;
  return total;
}

std::optional<std::uint64_t> InputFile::bytesLeft() const {
  // Some regular files (those of /proc) say 0 and still have bytes: no size is better then.
  if (!regular_ || size_ == 0 || size_ < position_) return std::nullopt;
  return size_ - position_;
}

InputFileBuffer::int_type InputFileBuffer::underflow() {
  const std::size_t got = file_.read(reinterpret_cast<std::uint8_t*>(chunk_), sizeof chunk_);
  if (got == 0) return traits_type::eof();
  setg(chunk_, chunk_, chunk_ + got);
  return traits_type::to_int_type(chunk_[0]);
}

}  // namespace tandra
