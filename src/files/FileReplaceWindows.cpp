// Replacing a file on Windows: a temporary file beside it, flushed, then put in its place in
// one step, keeping the old file's security descriptor. A failure keeps the old file. A file with a
// second name, or in a folder that refuses the temporary file, is rewritten itself, and its old
// contents are put back should that fail.
// clang-format off
#include <windows.h>
#include <aclapi.h>
// clang-format on
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

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
    const int written = ::_write(
        fd, bytes.data(), static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1 << 30)));
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

// How many names the file has. The C library's stat, and so std::filesystem, says 1 for every
// file on Windows; the file itself knows.
DWORD namesOf(const fs::path& target) {
  const HANDLE file =
      ::CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool known = ::GetFileInformationByHandle(file, &information) != 0;
  ::CloseHandle(file);
  return known ? information.nNumberOfLinks : 1;
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
  facts.sharedIdentity = facts.regular && namesOf(target) > 1;
  return facts;
}

// The name with its folder: ReplaceFileW makes a file of its own in the folder the name gives,
// and Wine's finds none in a bare "out.bin" (ERROR_DIRECTORY); Windows takes either.
fs::path fullName(const fs::path& name) {
  // A name in Windows' own spelling (\\?\C:\..., a long one) is whole already, and
  // std::filesystem takes it for a relative one.
  if (name.native().starts_with(L"\\\\?\\")) return name;
  std::error_code failed;
  fs::path full = fs::absolute(name, failed);
  return failed ? name : full;
}

// Why the complete new file could not take the old one's place.
FileError placingRefused(DWORD why) {
  switch (why) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
      return FileError(ioMessage(5))
          .withHint("Another program may have the file open: close it there, then save again.");
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return FileError(ioMessage(101));
    default:
      return FileError(ioMessage(5));
  }
}

// The old file's access list (the rights it gives other users) and its attributes (hidden,
// system, archive, not indexed) on the new one. ReplaceFileW carries them over on Windows; Wine's
// does not, and giving them first does no harm.
void takeAccessList(const fs::path& target, const fs::path& temporary) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL list = nullptr;
  if (::GetNamedSecurityInfoW(target.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &list, nullptr, &descriptor) != ERROR_SUCCESS) {
    return;
  }
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor, &control, &revision);
  // A list of its own stays its own; one the folder gave is given by the folder again.
  const SECURITY_INFORMATION what =
      DACL_SECURITY_INFORMATION |
      ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                          : UNPROTECTED_DACL_SECURITY_INFORMATION);
  ::SetNamedSecurityInfoW(const_cast<LPWSTR>(temporary.c_str()), SE_FILE_OBJECT, what, nullptr,
                          nullptr, list, nullptr);
  ::LocalFree(descriptor);
}

void takeAttributes(const fs::path& target, const fs::path& temporary) {
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & kKept) == 0) return;
  ::SetFileAttributesW(temporary.c_str(), attributes & kKept);
}

// Replaces the old file with the complete temporary one in one step. An existing file keeps its
// security descriptor (the rights it gave other users), its attributes and its streams, which
// ReplaceFileW carries over and MoveFileExW would not; a new file is moved into place, on the
// disk when it returns. A refusal keeps the old file and removes the temporary one.
void putInPlace(const fs::path& target, const fs::path& temporary, bool exists) {
  if (exists) {
    takeAccessList(target, temporary);
    takeAttributes(target, temporary);
    if (::ReplaceFileW(target.c_str(), temporary.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                       nullptr, nullptr) != 0) {
      return;
    }
  } else if (::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0) {
    return;
  }
  const DWORD why = ::GetLastError();
  if (why == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
    // The old file was moved aside but the new one not put in its place: the new one is the
    // image now, and is never removed with its temporary name.
    if (::MoveFileExW(temporary.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
      return;
    }
    const std::u8string kept = temporary.u8string();
    throw FileError(ioMessage(5))
        .withHint("The new image is kept in " + std::string(kept.begin(), kept.end()) + ".");
  }
  std::error_code ignored;
  fs::remove(temporary, ignored);
  throw placingRefused(why);
}

}  // namespace

void writeToDescriptor(int descriptor, std::string_view bytes) {
  ::_setmode(descriptor, _O_BINARY);  // no line ends turned into CR LF
  writeAll(descriptor, bytes);
}

void replaceFile(const std::string& path, std::string_view bytes) {
  const fs::path target = fullName(fs::u8path(path));
  const SaveTarget facts = examine(target);
  switch (firstWay(facts)) {
    case SaveWay::Refuse:
      throw FileError(facts.directory ? folderMessage() : ioMessage(5));
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
  putInPlace(target, temporary, facts.exists);
}

}  // namespace tandra
