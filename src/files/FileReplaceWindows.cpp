// Replacing a file on Windows: a temporary file beside it, flushed, then put in its place in
// one step, keeping the old file's security descriptor. A failure keeps the old file. A file with a
// second name, or in a folder that refuses the temporary file, is rewritten itself, and its old
// contents are put back should that fail.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <string>

#include "common/FileError.h"
#include "files/SaveCalls.h"
#include "files/SavePlan.h"
#include "files/Savers.h"

namespace tandra {

namespace fs = std::filesystem;

SaveCalls& saveCalls() {
  static SaveCalls calls{::_commit, std::rename};
  return calls;
}

namespace {

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const int written =
        ::_write(fd, bytes.data(), static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1 << 30)));
    if (written <= 0) throw FileError(ioMessageForErrno(written < 0 ? errno : ENOSPC));
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

// Opens with _wopen's flags; the system's error number when it cannot.
int openFile(const fs::path& path, int flags, int* error) {
  const int fd = ::_wopen(path.c_str(), flags | _O_BINARY, _S_IREAD | _S_IWRITE);
  *error = fd < 0 ? errno : 0;
  return fd;
}

void writeFile(int fd, std::string_view bytes) {
  try {
    writeAll(fd, bytes);
    if (saveCalls().fsync(fd) != 0) throw FileError(ioMessageForErrno(errno));
  } catch (...) {
    ::_close(fd);
    throw;
  }
  if (::_close(fd) != 0) throw FileError(ioMessageForErrno(errno));
}

// A device: written as it stands, never emptied first.
void writeDevice(const fs::path& target, std::string_view bytes) {
  int error = 0;
  const int fd = openFile(target, _O_WRONLY, &error);
  if (fd < 0) throw FileError(ioMessageForErrno(error));
  writeFile(fd, bytes);
}

// A regular file rewritten in place, so that it keeps every name: it is not emptied when
// opened, what it held is read first, and should the write fail the old contents are put back.
void rewriteInPlace(const fs::path& target, std::string_view bytes) {
  int error = 0;
  int fd = openFile(target, _O_RDWR, &error);
  const bool readable = fd >= 0;
  if (!readable) fd = openFile(target, _O_WRONLY, &error);
  if (fd < 0) throw FileError(ioMessageForErrno(error));
  try {
    std::optional<std::string> old;
    if (readable) {
      old.emplace();
      char chunk[65536];
      for (int got; (got = ::_read(fd, chunk, static_cast<unsigned>(sizeof chunk))) != 0;) {
        if (got < 0) throw FileError(ioMessageForErrno(errno));
        old->append(chunk, static_cast<std::size_t>(got));
      }
    }
    const auto putAt0 = [fd](std::string_view contents) {
      if (::_lseeki64(fd, 0, SEEK_SET) != 0) throw FileError(ioMessageForErrno(errno));
      writeAll(fd, contents);
      if (const errno_t cut = ::_chsize_s(fd, static_cast<long long>(contents.size())); cut != 0) {
        throw FileError(ioMessageForErrno(cut));
      }
    };
    rewriteKeepingOld(bytes, old, putAt0, [fd] {
      if (saveCalls().fsync(fd) != 0) throw FileError(ioMessageForErrno(errno));
    });
  } catch (...) {
    ::_close(fd);
    throw;
  }
  if (::_close(fd) != 0) throw FileError(ioMessageForErrno(errno));
}

SaveTarget examine(const fs::path& target) {
  SaveTarget facts;
  std::error_code error;
  const fs::file_status status = fs::status(target, error);
  facts.exists = !error && fs::exists(status);
  if (!facts.exists) return facts;
  facts.directory = fs::is_directory(status);
  facts.regular = fs::is_regular_file(status);
  facts.writable = (status.permissions() & fs::perms::owner_write) != fs::perms::none;
  facts.sharedIdentity = fs::hard_link_count(target, error) > 1;
  return facts;
}

}  // namespace

void writeToDescriptor(int descriptor, std::string_view bytes) {
  ::_setmode(descriptor, _O_BINARY);  // no line ends turned into CR LF
  writeAll(descriptor, bytes);
}

void replaceFile(const std::string& path, std::string_view bytes) {
  const fs::path target = fs::u8path(path);
  const SaveTarget facts = examine(target);
  switch (firstWay(facts)) {
    case SaveWay::Refuse:
      throw FileError(ioMessage(5));
    case SaveWay::InPlace:
      if (facts.regular) {
        rewriteInPlace(target, bytes);
      } else {
        writeDevice(target, bytes);
      }
      return;
    case SaveWay::ThroughTemporary:
      break;
  }
  std::random_device random;
  const fs::path temporary =
      target.parent_path() / (".tandra-" + std::to_string(random() % 1000000));
  int error = 0;
  // Made anew or not at all: a file of that name that was there is never written into.
  const int fd = openFile(temporary, _O_WRONLY | _O_CREAT | _O_EXCL, &error);
  if (fd < 0) {
    if (afterTemporaryFailed(facts, error) == SaveWay::InPlace) {
      rewriteInPlace(target, bytes);
      return;
    }
    throw FileError(ioMessageForErrno(error));
  }
  try {
    writeFile(fd, bytes);
  } catch (const FileError&) {
    std::error_code ignored;
    fs::remove(temporary, ignored);  // a full disk: the old file stays as it was
    throw;
  }
  // Replaces the old file in one step. An existing file keeps its security descriptor (the
  // rights it gave other users), its attributes and its streams, which ReplaceFileW carries
  // over and MoveFileExW would not; a new file is moved into place, on the disk when it returns.
  const bool placed =
      facts.exists ? ::ReplaceFileW(target.c_str(), temporary.c_str(), nullptr,
                                    REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0
                   : ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
  if (!placed) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw FileError(ioMessage(5));
  }
}

}  // namespace tandra
