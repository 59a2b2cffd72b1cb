// Replacing a file on a system with POSIX files: symbolic links, modes and owners, hard links,
// pipes and devices, and saves that survive a power cut.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "common/FileError.h"
#include "files/SaveCalls.h"
#include "files/SavePlan.h"
#include "files/Savers.h"

namespace tandra {

namespace fs = std::filesystem;

SaveCalls& saveCalls() {
  static SaveCalls calls{::fsync, ::rename};
  return calls;
}

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

bool immutable(const fs::path& path) {
#if defined(__linux__) && defined(FS_IOC_GETFLAGS)
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  const bool got = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  ::close(fd);
  return got && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
#else
  (void)path;
  return false;
#endif
}

SaveTarget examine(const fs::path& target, const struct stat& status, bool exists) {
  SaveTarget facts;
  facts.exists = exists;
  if (!exists) return facts;
  facts.directory = S_ISDIR(status.st_mode);
  facts.regular = S_ISREG(status.st_mode);
  // Root passes every permission check, so for root the mode itself says whether the file may
  // be written: a file nobody may write stays so. Anyone else is asked of the system, which
  // knows the access lists too.
  const bool root = ::geteuid() == 0;
  const bool allowed =
      root ? (status.st_mode & 0222) != 0 : ::access(target.c_str(), W_OK) == 0;
  facts.writable = allowed && !immutable(target);
  facts.sharedIdentity = status.st_nlink > 1 || (!root && status.st_uid != ::geteuid());
  return facts;
}

// Waits until a pipe takes more; false when it took nothing for the stall time.
bool readerTakes(int fd) {
  pollfd waiting{fd, POLLOUT, 0};
  for (;;) {
    const int ready = ::poll(&waiting, 1, stalledPipeReaderMs);
    if (ready >= 0) return ready > 0;
    if (errno != EINTR) throw FileError(ioMessageForErrno(errno));
  }
}

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!readerTakes(fd)) {
        const int seconds = (stalledPipeReaderMs + 999) / 1000;
        throw FileError("Nothing was taken from the pipe for " + std::to_string(seconds) +
                        (seconds == 1 ? " second" : " seconds"));
      }
      continue;
    }
    if (written < 0 && errno == EPIPE) throw FileError::readerWentAway();
    if (written <= 0) throw FileError(ioMessageForErrno(written < 0 ? errno : ENOSPC));
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

void flush(int fd) {
  // A file system that cannot flush this kind of file (a pipe, a device) has nothing to lose.
  if (saveCalls().fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
    throw FileError(ioMessageForErrno(errno));
  }
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  void close() {
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw FileError(ioMessageForErrno(errno));
  }

 private:
  int fd_;
};

// Opens a pipe or a device for writing without blocking. A pipe that no program has opened to
// read yet is tried again for a while, as a load waits for a pipe's writer: the reader of a
// named pipe may well be started after the program that writes it.
int openStream(const fs::path& target) {
  constexpr int kRetryMs = 50;
  for (int waitedMs = 0;; waitedMs += kRetryMs) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) return fd;
    if (errno != ENXIO) throw FileError(ioMessageForErrno(errno));
    if (waitedMs >= pipeReaderWaitMs) {
      const int seconds = (pipeReaderWaitMs + 999) / 1000;
      throw FileError("No program opened the pipe to read from it within " +
                      std::to_string(seconds) + (seconds == 1 ? " second" : " seconds"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kRetryMs));
  }
}

// A pipe or a device: written as it stands. Non-blocking, so that a pipe nobody reads is an
// error and not a wait without end, at the open and for as long as the reader takes nothing.
void writeStream(const fs::path& target, std::string_view bytes) {
  Descriptor file(openStream(target));
  writeAll(file.get(), bytes);
  file.close();
}

// A regular file rewritten in place, so that it keeps every name and its owner: what it held
// is kept in memory, the room the new image needs beyond it is asked of the file system first,
// and should the write fail all the same, the old contents are put back.
void rewriteInPlace(const fs::path& target, std::string_view bytes) {
  const bool readable = ::access(target.c_str(), R_OK) == 0;
  Descriptor file(::open(target.c_str(), (readable ? O_RDWR : O_WRONLY) | O_CLOEXEC));
  if (file.get() < 0) throw FileError(ioMessageForErrno(errno));
  std::optional<std::string> old;
  if (readable) {
    old.emplace();
    char chunk[65536];
    for (ssize_t got; (got = ::read(file.get(), chunk, sizeof chunk)) != 0;) {
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw FileError(ioMessageForErrno(errno));
      old->append(chunk, static_cast<std::size_t>(got));
    }
  }
  const std::size_t held = old ? old->size() : 0;
  struct statvfs space {};
  if (::fstatvfs(file.get(), &space) == 0 && bytes.size() > held &&
      static_cast<unsigned long long>(space.f_bavail) * space.f_frsize < bytes.size() - held) {
    throw FileError(ioMessage(101));
  }
  const auto putAt0 = [&](std::string_view contents) {
    if (::lseek(file.get(), 0, SEEK_SET) != 0) throw FileError(ioMessageForErrno(errno));
    writeAll(file.get(), contents);
    if (::ftruncate(file.get(), static_cast<off_t>(contents.size())) != 0) {
      throw FileError(ioMessageForErrno(errno));
    }
  };
  rewriteKeepingOld(bytes, old, putAt0, [&] { flush(file.get()); });
  file.close();
}

// The temporary file beside the target, removed unless it was put in place. Its name is short
// and fixed in length, so that any name the folder takes can be saved to; mkstemp makes it
// anew, never opening a file that was there.
class TemporaryFile {
 public:
  explicit TemporaryFile(const fs::path& folder)
      : path_(((folder.empty() ? fs::path(".") : folder) / ".tandra-XXXXXX").string()),
        file_(::mkstemp(path_.data())),
        error_(file_.get() < 0 ? errno : 0),
        made_(file_.get() >= 0) {}
  ~TemporaryFile() {
    if (made_ && !placed_) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool made() const { return file_.get() >= 0; }
  int error() const { return error_; }
  int fd() const { return file_.get(); }

  // Flushes and closes the complete file, then puts it in the target's place; the system's
  // error number when the rename is refused (the file is closed either way).
  int replace(const fs::path& target) {
    flush(file_.get());
    file_.close();
    if (saveCalls().rename(path_.c_str(), target.c_str()) != 0) return errno;
    placed_ = true;
    return 0;
  }

 private:
  std::string path_;
  Descriptor file_;
  int error_;
  bool made_;
  bool placed_ = false;
};

// The target's access list and extended attributes, put on the temporary file: a replaced
// file must not lose the rights it gave other users, nor its tags. Security labels are the
// system's to give and are left to it. False when one could not be copied; then the file is
// rewritten in place, which keeps them all.
bool copyAttributes(const fs::path& target, int to) {
#if defined(__linux__)
  const auto read = [&](const char* name, std::string& value) {
    const ssize_t size = ::getxattr(target.c_str(), name, nullptr, 0);
    if (size < 0) return false;
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got = ::getxattr(target.c_str(), name, value.data(), value.size());
    if (got < 0) return false;
    value.resize(static_cast<std::size_t>(got));
    return true;
  };
  const ssize_t size = ::listxattr(target.c_str(), nullptr, 0);
  if (size < 0) return errno == ENOTSUP;  // a file system without them: none to keep
  std::string names(static_cast<std::size_t>(size), '\0');
  const ssize_t got = ::listxattr(target.c_str(), names.data(), names.size());
  if (got < 0) return false;
  names.resize(static_cast<std::size_t>(got));
  std::string value;
  for (std::size_t at = 0; at < names.size(); at = names.find('\0', at) + 1) {
    const std::string name = names.c_str() + at;
    if (name.empty() || name.starts_with("security.")) continue;
    if (!read(name.c_str(), value)) return false;
    if (::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0) return false;
  }
#else
  (void)target;
  (void)to;
#endif
  return true;
}

// Gives the temporary file the target's mode, owner, group, access list and attributes; false
// when it could not have them all (a group this user is no member of, an attribute this user
// may not set), and the target must be rewritten in place to keep them.
bool takeOverIdentity(const fs::path& target, const struct stat& status, int to) {
  ::fchmod(to, status.st_mode & 07777);
  // Root saving someone's file leaves it theirs; anyone may give a file a group of their own.
  const int ignored = ::fchown(to, status.st_uid, status.st_gid);
  (void)ignored;
  if (!copyAttributes(target, to)) return false;
  struct stat now {};
  return ::fstat(to, &now) == 0 && now.st_uid == status.st_uid && now.st_gid == status.st_gid &&
         (now.st_mode & 07777) == (status.st_mode & 07777);
}

// The folder's entry for the renamed file reaches the disk too.
void flushFolder(const fs::path& folder) {
  Descriptor directory(
      ::open((folder.empty() ? fs::path(".") : folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() >= 0) flush(directory.get());
}

void saveThroughTemporary(const fs::path& target, const SaveTarget& facts,
                          const struct stat& status, std::string_view bytes) {
  TemporaryFile temporary(target.parent_path());
  if (!temporary.made()) {
    if (afterTemporaryFailed(facts, temporary.error()) == SaveWay::InPlace) {
      // A folder that takes no new file may still hold a file this user may write.
      rewriteInPlace(target, bytes);
      return;
    }
    throw FileError(ioMessageForErrno(temporary.error()));
  }
  writeAll(temporary.fd(), bytes);
  if (facts.exists) {
    if (!takeOverIdentity(target, status, temporary.fd())) {
      rewriteInPlace(target, bytes);
      return;
    }
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(temporary.fd(), 0666 & ~mask);  // as a newly made file would be
  }
  if (const int refused = temporary.replace(target); refused != 0) {
    // A sticky folder lets no one replace another user's file, which may still be written.
    if (afterTemporaryFailed(facts, refused) == SaveWay::InPlace) {
      rewriteInPlace(target, bytes);
      return;
    }
    throw FileError(ioMessageForErrno(refused));
  }
  flushFolder(target.parent_path());
}

}  // namespace

void writeToDescriptor(int descriptor, std::string_view bytes) {
  writeAll(descriptor, bytes);
}

void replaceFile(const std::string& path, std::string_view bytes) {
  struct stat status {};
  // A pipe or a device is written through the name given: the system follows the links to it,
  // also those of /dev/stdout and /dev/fd that name a pipe of this process and no file.
  if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
    writeStream(path, bytes);
    return;
  }
  const fs::path target = resolvedTarget(path);
  const bool exists = ::stat(target.c_str(), &status) == 0;
  const SaveTarget facts = examine(target, status, exists);
  switch (firstWay(facts)) {
    case SaveWay::Refuse:
      throw FileError(facts.directory ? folderMessage() : ioMessage(5));
    case SaveWay::InPlace:
      if (facts.regular) {
        rewriteInPlace(target, bytes);
      } else {
        writeStream(target, bytes);
      }
      return;
    case SaveWay::ThroughTemporary:
      saveThroughTemporary(target, facts, status, bytes);
      return;
  }
}

}  // namespace tandra
