// Saves over what is not a plain file of one's own: hard links, files root may not write,
// other users' files, pipes that do not read, and saves that must survive a power cut.
#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <cstring>
#include <thread>

#include "SaveFixture.h"
#include "files/SaveCalls.h"
#include "files/SavePlan.h"

namespace tandra::test {
namespace {

namespace fs = std::filesystem;

TEST(SavePlan, EachTargetGetsTheWayThatKeepsWhatMustBeKept) {
  struct Case {
    SaveTarget target;
    SaveWay first;
    SaveWay noTemporaryForPermission;  // the folder refuses the temporary file, or its rename
    SaveWay noTemporaryForOtherReasons;
  };
  // exists, directory, regular, writable, sharedIdentity
  const Case cases[] = {
      {{false, false, false, false, false},
       SaveWay::ThroughTemporary,
       SaveWay::Refuse,
       SaveWay::Refuse},
      {{true, false, true, true, false},
       SaveWay::ThroughTemporary,
       SaveWay::InPlace,
       SaveWay::Refuse},
      {{true, false, true, false, false}, SaveWay::Refuse, SaveWay::Refuse, SaveWay::Refuse},
      {{true, false, true, true, true}, SaveWay::InPlace, SaveWay::InPlace, SaveWay::Refuse},
      {{true, false, true, false, true}, SaveWay::Refuse, SaveWay::Refuse, SaveWay::Refuse},
      {{true, false, false, true, false}, SaveWay::InPlace, SaveWay::Refuse, SaveWay::Refuse},
      {{true, true, false, true, false}, SaveWay::Refuse, SaveWay::Refuse, SaveWay::Refuse},
  };
  int row = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(firstWay(c.target), c.first) << "row " << row;
    EXPECT_EQ(afterTemporaryFailed(c.target, EACCES), c.noTemporaryForPermission) << row;
    EXPECT_EQ(afterTemporaryFailed(c.target, EPERM), c.noTemporaryForPermission) << row;
    for (int error : {
           ENOSPC, EIO, EXDEV,
#if defined(EDQUOT)  // a quota met (not in Windows' C library)
               EDQUOT
#else
                      ENOSPC
#endif
         }) {
      EXPECT_EQ(afterTemporaryFailed(c.target, error), c.noTemporaryForOtherReasons) << row;
    }
    ++row;
  }
}

// A file rewritten in place (another name shares it, or its folder takes no new file) keeps
// what it held when the new image cannot be written or flushed, wherever that could be read.
// The file here is a string; a put that fails has written half its bytes first, as a disk that
// fills up midway does.
TEST(SavePlan, AnInPlaceRewriteThatFailsPutsTheOldContentsBack) {
  struct Case {
    int failingPuts;  // this many puts fail, counted from the first
    bool flushFails;
    bool readable;  // the old contents could be read before the rewrite
    std::string left;
    std::string error;
  };
  const std::string old = "old contents";
  const std::string image = "a longer new image";
  const Case cases[] = {
      {0, false, true, image, ""},
      {1, false, true, old, "put 1"},
      {0, true, true, old, "flush"},
      {2, false, true, "old coer nts", "put 1"},  // the first error is the one told
      {1, false, false, "a longer nts", "put 1"},
  };
  int row = 0;
  for (const Case& c : cases) {
    std::string file = old;
    int puts = 0;
    const auto put = [&](std::string_view contents) {
      if (++puts <= c.failingPuts) {
        file.replace(0, contents.size() / 2, contents.substr(0, contents.size() / 2));
        throw FileError("put " + std::to_string(puts));
      }
      file.assign(contents);
    };
    const auto flush = [&] {
      if (c.flushFails) throw FileError("flush");
    };
    std::string error;
    try {
      rewriteKeepingOld(image, c.readable ? std::optional<std::string>(old) : std::nullopt, put,
                        flush);
    } catch (const FileError& failure) {
      error = failure.what();
    }
    EXPECT_EQ(file, c.left) << "row " << row;
    EXPECT_EQ(error, c.error) << "row " << row;
    ++row;
  }
}

// Replaces one of the calls a save makes for the length of a test.
class BentCall {
 public:
  template <typename Call>
  BentCall(Call SaveCalls::*call, Call bent) : saved_(saveCalls()) {
    saveCalls().*call = bent;
  }
  ~BentCall() { saveCalls() = saved_; }

 private:
  SaveCalls saved_;
};

TEST_F(AtomicSave, EveryNameOfAHardLinkedFileSeesTheNewImage) {
  const std::string other = folder.file("other-name.bin");
  fs::create_hard_link(target, other);
  EXPECT_EQ(saveError(), "");
  EXPECT_TRUE(readFile(other) == saved);
  EXPECT_TRUE(readFile(target) == saved);
  std::ofstream(target, std::ios::binary | std::ios::app) << "!";  // still one file, two names
  EXPECT_EQ(fs::file_size(other), saved.size() + 1);
}

TEST_F(AtomicSave, AFlushThatFailsIsAnErrorAndKeepsTheOldFile) {
  BentCall failing(
      &SaveCalls::fsync, +[](int) {
        errno = EIO;
        return -1;
      });
  EXPECT_EQ(saveError(), std::strerror(EIO));
  EXPECT_EQ(readFile(target), "old contents");
  EXPECT_EQ(filesInFolder(), 1);
}

// What only a POSIX system has: root and other users, their groups, access lists and extended
// attributes, named pipes; on Windows the cases stand skipped, with the reason.
#if defined(_WIN32)
TEST_F(AtomicSave, AFileNobodyMayWriteIsRefusedToRootToo) {
  GTEST_SKIP() << kNoModesOnWindows;
}

TEST_F(AtomicSave, AnotherUsersWritableFileIsWrittenInPlaceAndStaysTheirs) {
  GTEST_SKIP() << kNoModesOnWindows;
}

TEST_F(AtomicSave, ARefusedRenameWritesInPlaceOnlyWhenPermissionWasTheCause) {
  GTEST_SKIP() << "Windows puts the new file in place with ReplaceFileW, which WindowsSave tests, "
                  "not with a rename";
}

TEST_F(AtomicSave, APipeThatTakesNothingIsAnErrorAndASlowOneIsWaitedFor) {
  GTEST_SKIP() << kNoSpecialFilesOnWindows;
}

TEST_F(AtomicSave, APipeWhoseReaderComesLateIsWaitedForAndOneWithoutIsToldInTime) {
  GTEST_SKIP() << kNoSpecialFilesOnWindows;
}

TEST_F(AtomicSave, TheTargetsAccessListAttributesModeAndGroupAreKept) {
  GTEST_SKIP() << kNoModesOnWindows;
}

TEST_F(AtomicSave, AGroupTheOperatorCannotGiveKeepsTheFileInPlace) {
  GTEST_SKIP() << kNoModesOnWindows;
}
#else
// A pipe's reader that holds it open, taking `chunk` bytes every `everyMs` (none for 0), with
// room in the pipe for one page only.
class PipeReader {
 public:
  PipeReader(const std::string& pipe, std::size_t chunk, int everyMs)
      : thread_([=, this] {
          const int fd = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);  // no writer yet
          ::fcntl(fd, F_SETFL, 0);
          ::fcntl(fd, F_SETPIPE_SZ, 4096);
          opened_ = true;
          std::vector<char> buffer(chunk);
          while (!done_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
            if (chunk == 0) continue;
            const ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got <= 0) break;
            received_.append(buffer.data(), static_cast<std::size_t>(got));
          }
          ::close(fd);
        }) {
    while (!opened_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~PipeReader() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // What the reader took by the time the pipe's writer closed it.
  std::string finish() {
    thread_.join();
    return received_;
  }

 private:
  std::string received_;
  std::atomic<bool> opened_{false};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// A POSIX access list as the system keeps it: the owner rw, the user nobody rw, the group r,
// the mask rw, the others nothing.
std::string accessListGivingNobodyWrite() {
  std::string list;
  const auto put = [&list](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) list += static_cast<char>(value >> (8 * i));
  };
  put(2, 4);  // the version
  const std::uint32_t entries[][3] = {{0x01, 6, 0xFFFFFFFF},
                                      {0x02, 6, 65534},
                                      {0x04, 4, 0xFFFFFFFF},
                                      {0x10, 6, 0xFFFFFFFF},
                                      {0x20, 0, 0xFFFFFFFF}};
  for (const auto& entry : entries) {
    put(entry[0], 2);
    put(entry[1], 2);
    put(entry[2], 4);
  }
  return list;
}

std::string attribute(const std::string& path, const char* name) {
  char value[256];
  const ssize_t got = ::getxattr(path.c_str(), name, value, sizeof value);
  return got < 0 ? std::string("none") : std::string(value, static_cast<std::size_t>(got));
}

TEST_F(AtomicSave, AFileNobodyMayWriteIsRefusedToRootToo) {
  if (::geteuid() != 0) GTEST_SKIP() << "for root only; others are refused by the system";
  fs::permissions(target, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(saveError(), "File access denied");
  EXPECT_EQ(readFile(target), "old contents");
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
  if (folder.run("chattr +i image.bin")) {
    EXPECT_EQ(saveError(), "File access denied");
    EXPECT_TRUE(folder.run("chattr -i image.bin"));
    EXPECT_EQ(readFile(target), "old contents");
  }
}

TEST_F(AtomicSave, AnotherUsersWritableFileIsWrittenInPlaceAndStaysTheirs) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file away";
  fs::permissions(target, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec |
                                             fs::perms::others_exec));  // 0666, root's
  // In a sticky folder no one may replace another's file; in an open folder it would be taken.
  for (const fs::perms folderMode : {fs::perms::all | fs::perms::sticky_bit, fs::perms::all}) {
    writeFile(target, "old contents");
    fs::permissions(folder.path(), folderMode);
    EXPECT_EQ(asNobody([this] { return saveError(); }), "");
    EXPECT_TRUE(readFile(target) == saved);
    struct stat status {};
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 0u);
    EXPECT_EQ(filesInFolder(), 1);
  }
}

TEST_F(AtomicSave, ARefusedRenameWritesInPlaceOnlyWhenPermissionWasTheCause) {
  {
    BentCall refusing(
        &SaveCalls::rename, +[](const char*, const char*) {
          errno = EXDEV;
          return -1;
        });
    EXPECT_NE(saveError(), "");
    EXPECT_EQ(readFile(target), "old contents");
    EXPECT_EQ(filesInFolder(), 1);
  }
  BentCall refusing(
      &SaveCalls::rename, +[](const char*, const char*) {
        errno = EPERM;
        return -1;
      });
  EXPECT_EQ(saveError(), "");
  EXPECT_TRUE(readFile(target) == saved);
  EXPECT_EQ(filesInFolder(), 1);
}

TEST_F(AtomicSave, APipeThatTakesNothingIsAnErrorAndASlowOneIsWaitedFor) {
  const std::string pipe = folder.file("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const int stall = stalledPipeReaderMs;
  stalledPipeReaderMs = 400;
  {
    PipeReader asleep(pipe, 0, 20);
    EXPECT_EQ(saveError(pipe), "Nothing was taken from the pipe for 1 second");
  }
  std::string received;
  {
    PipeReader slow(pipe, 4096, 100);  // a page every 100 ms: 32 KiB take a while
    EXPECT_EQ(saveError(pipe), "");
    received = slow.finish();
  }
  stalledPipeReaderMs = stall;
  EXPECT_TRUE(received == saved) << received.size();
}

TEST_F(AtomicSave, APipeWhoseReaderComesLateIsWaitedForAndOneWithoutIsToldInTime) {
  const std::string pipe = folder.file("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const int wait = pipeReaderWaitMs;
  pipeReaderWaitMs = 400;
  EXPECT_EQ(saveError(pipe), "No program opened the pipe to read from it within 1 second");
  pipeReaderWaitMs = wait;
  std::string received;
  std::thread reader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int fd = ::open(pipe.c_str(), O_RDONLY);
    char chunk[4096];
    for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;) {
      received.append(chunk, static_cast<std::size_t>(got));
    }
    ::close(fd);
  });
  EXPECT_EQ(saveError(pipe), "");
  reader.join();
  EXPECT_TRUE(received == saved) << received.size();
}

TEST_F(AtomicSave, TheTargetsAccessListAttributesModeAndGroupAreKept) {
  const std::string list = accessListGivingNobodyWrite();
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  if (::setxattr(target.c_str(), "system.posix_acl_access", list.data(), list.size(), 0) != 0 ||
      ::setxattr(target.c_str(), "user.origin", "lab", 3, 0) != 0) {
    GTEST_SKIP() << "the file system of " << folder.path()
                 << " keeps no access lists: " << std::strerror(errno);
  }
  struct stat before {};
  ASSERT_EQ(::stat(target.c_str(), &before), 0);
  EXPECT_EQ(saveError(), "");
  EXPECT_TRUE(readFile(target) == saved);
  struct stat after {};
  ASSERT_EQ(::stat(target.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode, before.st_mode) << "the group's rights are the list's mask";
  EXPECT_EQ(attribute(target, "system.posix_acl_access"), list);
  EXPECT_EQ(attribute(target, "user.origin"), "lab");
  EXPECT_EQ(filesInFolder(), 1);
}

TEST_F(AtomicSave, AGroupTheOperatorCannotGiveKeepsTheFileInPlace) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file a group of another";
  // The operator's own file, of a group the operator is no member of (root's).
  ASSERT_EQ(::chown(target.c_str(), kNobody, 0), 0);
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_EQ(::chown(folder.path().c_str(), kNobody, kNobody), 0);
  EXPECT_EQ(asNobody([this] { return saveError(); }), "");
  EXPECT_TRUE(readFile(target) == saved);
  struct stat after {};
  ASSERT_EQ(::stat(target.c_str(), &after), 0);
  EXPECT_EQ(after.st_gid, 0u);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
}
#endif

}  // namespace
}  // namespace tandra::test
