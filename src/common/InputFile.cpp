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

#if defined(_WIN32)

InputFile::InputFile(const std::string& path) {
  std::error_code ignored;
  if (std::filesystem::is_directory(std::filesystem::u8path(path), ignored)) {
    throw FileError(folderMessage());
  }
  fd_ = ::_wopen(std::filesystem::u8path(path).c_str(), _O_RDONLY | _O_BINARY);
  if (fd_ < 0) throw FileError(ioMessageForErrno(errno));
  examine();
}

InputFile InputFile::fromDescriptor(int descriptor) {
  InputFile file;
  file.fd_ = ::_dup(descriptor);
  if (file.fd_ < 0) throw FileError(ioMessageForErrno(errno));
  ::_setmode(file.fd_, _O_BINARY);
  file.examine();
  return file;
}

void InputFile::examine() {
  struct _stat64 status {};
  regular_ = ::_fstat64(fd_, &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
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
  examine();
}

InputFile InputFile::fromDescriptor(int descriptor) {
  InputFile file;
  // A copy shares the file's state with the original; it is not made non-blocking, which
  // would change the terminal or pipe for whoever else holds it.
  file.fd_ = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  if (file.fd_ < 0) throw FileError(ioMessageForErrno(errno));
  file.examine();
  return file;
}

void InputFile::examine() {
  struct stat status {};
  if (::fstat(fd_, &status) != 0) {
    const int error = errno;
    ::close(fd_);
    fd_ = -1;
    throw FileError(ioMessageForErrno(error));
  }
  if (S_ISDIR(status.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw FileError(folderMessage());
  }
  regular_ = S_ISREG(status.st_mode);
  nonBlocking_ = (::fcntl(fd_, F_GETFL) & O_NONBLOCK) != 0;
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t InputFile::readOnce(std::uint8_t* into, std::size_t count) {
  int waitedMs = 0;
  for (;;) {
    if (!regular_) {
      pollfd waiting{fd_, POLLIN, 0};
      const int ready = waitForBytes != nullptr ? waitForBytes(fd_, kQuietPipeMs)
                                                : ::poll(&waiting, 1, kQuietPipeMs);
      if (ready < 0 && errno != EINTR) throw FileError(ioMessageForErrno(errno));
      if (ready == 0 && received_) {
        // Quiet after it had begun: taken as the end, and told, for there may have been more.
        cutShort_ = true;
        return 0;
      }
      if (ready == 0) {
        // Nothing yet: the writer may start after the reader, or take its time.
        waitedMs += kQuietPipeMs;
        if (waitedMs >= writerWaitMs) throw FileError(nothingCameMessage());
        continue;
      }
      if (ready < 0) continue;
    }
    const ssize_t got = ::read(fd_, into, count);
    if (got > 0) received_ = true;
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    throw FileError(ioMessageForErrno(errno));
  }
}

std::string InputFile::nothingCameMessage() {
  const std::string waited = std::to_string((writerWaitMs + 999) / 1000) + " seconds";
  // A pipe opened without blocking reads as ended while no writer has it open; with a writer
  // there is simply nothing yet. (A byte that came this very moment is lost with the load.)
  std::uint8_t scrap = 0;
  if (nonBlocking_ && ::read(fd_, &scrap, 1) == 0) {
    return "No program opened the pipe to write to it within " + waited;
  }
  return "Nothing came through the pipe within " + waited;
}

#endif

InputFile::InputFile(InputFile&& other) noexcept
    : fd_(other.fd_),
      regular_(other.regular_),
      nonBlocking_(other.nonBlocking_),
      atEnd_(other.atEnd_),
      received_(other.received_),
      cutShort_(other.cutShort_),
      peeked_(std::move(other.peeked_)),
      peekedTaken_(other.peekedTaken_) {
  other.fd_ = -1;
}

std::size_t InputFile::readFromFile(std::uint8_t* into, std::size_t count) {
  std::size_t total = 0;
  while (total < count && !atEnd_) {
    const std::size_t got = readOnce(into + total, count - total);
    if (got == 0) atEnd_ = true;
    total += got;
  }
  return total;
}

std::size_t InputFile::read(std::uint8_t* into, std::size_t count) {
  std::size_t total = std::min(count, peeked_.size() - peekedTaken_);
  std::copy_n(peeked_.begin() + static_cast<std::ptrdiff_t>(peekedTaken_), total, into);
  peekedTaken_ += total;
  total += readFromFile(into + total, count - total);
  return total;
}

std::string_view InputFile::peek(std::size_t count) {
  const std::size_t have = peeked_.size() - peekedTaken_;
  if (have < count) {
    peeked_.erase(peeked_.begin(), peeked_.begin() + static_cast<std::ptrdiff_t>(peekedTaken_));
    peekedTaken_ = 0;
    peeked_.resize(count);
    peeked_.resize(have + readFromFile(peeked_.data() + have, count - have));
  }
  return {reinterpret_cast<const char*>(peeked_.data()) + peekedTaken_,
          std::min(count, peeked_.size() - peekedTaken_)};
}

InputFileBuffer::int_type InputFileBuffer::underflow() {
  const std::size_t got = file_.read(reinterpret_cast<std::uint8_t*>(chunk_), sizeof chunk_);
  if (got == 0) return traits_type::eof();
  setg(chunk_, chunk_, chunk_ + got);
  return traits_type::to_int_type(chunk_[0]);
}

}  // namespace tandra
