// Replacing a file on a system with POSIX files: symbolic links, modes and owners, pipes and
// devices.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "common/FileError.h"
#include "files/Savers.h"

namespace tandra {

namespace fs = std::filesystem;

namespace {

// The file a name stands for: symbolic links are followed, chains and relative ones too, so
// that the file they point at is the one replaced and the links stay. A link to a file that is
// not there yet names the file to make.
fs::path resolvedTarget(const fs::path& path) {
  fs::path target = path;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code error;
    if (!fs::is_symlink(target, error)) return target;
    const fs::path link = fs::read_symlink(target, error);
    if (error) throw FileError(ioMessageForErrno(error.value()));
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
  throw FileError(ioMessageForErrno(ELOOP));
}

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) throw FileError(ioMessageForErrno(written < 0 ? errno : ENOSPC));
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

// Writes into a file that is opened, not replaced: a pipe or a device, or a file whose folder
// takes no new file.
void writeInPlace(const fs::path& target, std::string_view bytes, bool truncate) {
  // Non-blocking at the open, so that a pipe nobody reads is an error and not a wait.
  const int fd =
      ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | (truncate ? O_TRUNC : 0));
  if (fd < 0) throw FileError(ioMessageForErrno(errno));
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  try {
    writeAll(fd, bytes);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) throw FileError(ioMessageForErrno(errno));
}

// The temporary file beside the target, removed unless it was put in place. Its name is short
// and fixed in length, so that any name the folder takes can be saved to.
class TemporaryFile {
 public:
  explicit TemporaryFile(const fs::path& folder)
      : path_(((folder.empty() ? fs::path(".") : folder) / ".tandra-XXXXXX").string()) {
    fd_ = ::mkstemp(path_.data());
    if (fd_ < 0) error_ = errno;
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (fd_ >= 0 || closed_) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool made() const { return fd_ >= 0; }
  int error() const { return error_; }
  int fd() const { return fd_; }

  // Closes the complete file and puts it in the target's place.
  void replace(const fs::path& target) {
    const int fd = fd_;
    fd_ = -1;
    closed_ = true;
    if (::close(fd) != 0) throw FileError(ioMessageForErrno(errno));
    if (::rename(path_.c_str(), target.c_str()) != 0) throw FileError(ioMessageForErrno(errno));
    closed_ = false;
  }

 private:
  std::string path_;
  int fd_ = -1;
  int error_ = 0;
  bool closed_ = false;
};

}  // namespace

void writeToDescriptor(int descriptor, std::string_view bytes) {
  writeAll(descriptor, bytes);
}

void replaceFile(const std::string& path, std::string_view bytes) {
  struct stat status {};
  // A pipe or a device is written through the name given: the system follows the links to it,
  // also those of /dev/stdout and /dev/fd that name a pipe of this process and no file.
  if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
    writeInPlace(path, bytes, false);
    return;
  }
  const fs::path target = resolvedTarget(path);
  const bool existed = ::stat(target.c_str(), &status) == 0;
  if (existed && S_ISDIR(status.st_mode)) throw FileError(ioMessage(5));
  // A write-protected file stays protected: it is not replaced behind its back. Reading it is
  // not needed, so a write-only file is saved to.
  if (existed && ::access(target.c_str(), W_OK) != 0) throw FileError(ioMessageForErrno(errno));

  TemporaryFile temporary(target.parent_path());
  if (!temporary.made()) {
    const int error = temporary.error();
    // A folder that takes no new file may still hold a file we may write: it is written in
    // place, as other programs' saves do. Its old contents are then at risk if the save
    // fails half-way, which a save through a temporary file avoids wherever it can.
    if (existed && (error == EACCES || error == EPERM)) {
      writeInPlace(target, bytes, true);
      return;
    }
    throw FileError(ioMessageForErrno(error));
  }
  writeAll(temporary.fd(), bytes);
  if (existed) {
    ::fchmod(temporary.fd(), status.st_mode & 07777);
    // Root saving someone's file leaves it theirs; anyone else keeps their own ownership.
    const int ignored = ::fchown(temporary.fd(), status.st_uid, status.st_gid);
    (void)ignored;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(temporary.fd(), 0666 & ~mask);  // as a newly made file would be
  }
  temporary.replace(target);
}

}  // namespace tandra
