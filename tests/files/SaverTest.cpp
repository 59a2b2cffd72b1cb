#if !defined(_WIN32)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstring>
#include <functional>
#include <thread>

#include "SaveFixture.h"
#include "files/SaveCalls.h"

namespace tandra::test {
namespace {

namespace fs = std::filesystem;

constexpr std::int32_t kDeviceEnds[] = {0x7FF,  0xFFF,  0x1FFF,  0x3FFF,
                                        0x7FFF, 0xFFFF, 0x1FFFF, 0x3FFFF};

ImageBuffer randomImage(std::int32_t deviceEnd, unsigned seed) {
  ImageBuffer image = imageFor(deviceEnd);
  std::mt19937 random(seed);
  for (std::int32_t a = 0; a < ImageBuffer::kSize; ++a)
    image[a] = static_cast<std::uint8_t>(random());
  return image;
}

bool sameDeviceRange(const ImageBuffer& a, const ImageBuffer& b) {
  return std::equal(a.data(), a.data() + a.deviceEndAddress + 1, b.data());
}

TEST(SaveAndLoad, EveryFormatReadsBackTheSameBytesForEveryDeviceSize) {
  ScratchFolder folder;
  for (std::int32_t end : kDeviceEnds) {
    const ImageBuffer saved = randomImage(end, static_cast<unsigned>(end));
    for (FileFormat format : {FileFormat::Binary, FileFormat::IntelHex, FileFormat::MotorolaHex,
                              FileFormat::AsciiHex}) {
      const std::string path = folder.file("image");
      if (format == FileFormat::Binary) {
        Save_Bin_File(saved, path);
        EXPECT_EQ(fs::file_size(path), static_cast<std::uintmax_t>(end) + 1);
      } else {
        Save_Hex_File(saved, path, format);
      }
      ImageBuffer loaded = imageFor(end, 0x00);
      const LoadReport report =
          format == FileFormat::Binary ? Load_Bin_File(loaded, path) : Load_Hex_File(loaded, path);
      EXPECT_TRUE(sameDeviceRange(saved, loaded)) << end << " format " << int(format);
      EXPECT_EQ(report.notes(), "") << end << " format " << int(format);
    }
  }
}

TEST(SaveText, LinesEndInCarriageReturnLineFeedWithUpperCaseDigits) {
  ImageBuffer image = imageFor(0x7FF, 0xab);
  const std::string text = hexFileText(image, FileFormat::IntelHex);
  EXPECT_EQ(text.find('\n'), text.find("\r\n") + 1);
  EXPECT_EQ(text.find("ab"), std::string::npos);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1 + 128 + 1);
}

TEST(SaveText, Intel64KBoundariesGetASegmentRecord) {
  const std::string text = hexFileText(imageFor(0xFFFF, 0xFF), FileFormat::IntelHex);
  const std::string tail = ":020000021000EC\r\n:00000001FF\r\n";
  ASSERT_GE(text.size(), tail.size());
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  EXPECT_EQ(text.rfind(":10FFF000"), text.size() - tail.size() - 45);
}

TEST_F(AtomicSave, ReplacesTheFileAndKeepsItsPermissions) {
#if defined(_WIN32)
  GTEST_SKIP() << kNoModesOnWindows;
#else
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(saveError(), "");
  EXPECT_EQ(readFile(target), std::string(0x8000, '\x42'));
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(filesInFolder(), 1);
#endif
}

TEST_F(AtomicSave, AWriteProtectedFileIsRefusedAndKept) {
  fs::permissions(target, fs::perms::owner_read);
  EXPECT_EQ(saveErrorAsOperator(), "File access denied");
  EXPECT_EQ(readFile(target), "old contents");
}

TEST_F(AtomicSave, OnlyWriteAccessIsAskedFor) {
#if defined(_WIN32)
  GTEST_SKIP() << kNoModesOnWindows;
#else
  // A file that may be written but not read is replaced, and stays write-only.
  fs::permissions(target, fs::perms::owner_write);
  EXPECT_EQ(saveErrorAsOperator(), "");
  EXPECT_TRUE(readFile(target) == std::string(0x8000, '\x42'));
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms::owner_write);
#endif
}

TEST_F(AtomicSave, AWritableFileInAFolderThatTakesNoNewFileIsWrittenInPlace) {
#if defined(_WIN32)
  GTEST_SKIP() << kNoModesOnWindows;
#else
  fs::permissions(folder.path(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(saveErrorAsOperator(), "");
  EXPECT_TRUE(readFile(target) == std::string(0x8000, '\x42'));
  EXPECT_EQ(filesInFolder(), 1);
#endif
}

TEST_F(AtomicSave, ANewFileInAFolderThatTakesNoNewFileIsRefused) {
#if defined(_WIN32)
  GTEST_SKIP() << kNoModesOnWindows;
#else
  fs::remove(target);
  fs::permissions(folder.path(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(saveErrorAsOperator(), "File access denied");
  EXPECT_EQ(filesInFolder(), 0);
#endif
}

TEST_F(AtomicSave, SymbolicLinksAreFollowedAndTheirTargetReplaced) {
#if defined(_WIN32)
  GTEST_SKIP() << kNoSpecialFilesOnWindows;
#else
  const std::string real = folder.file("real.bin");
  writeFile(real, "old real");
  fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::remove(target);
  fs::create_symlink("link2.bin", target);  // image.bin -> link2.bin -> real.bin
  fs::create_symlink("real.bin", folder.file("link2.bin"));
  EXPECT_EQ(saveError(), "");
  EXPECT_TRUE(fs::is_symlink(target));
  EXPECT_TRUE(fs::is_symlink(folder.file("link2.bin")));
  EXPECT_TRUE(readFile(real) == std::string(0x8000, '\x42'));
  EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(filesInFolder(), 3);

  // A link to a file not there yet makes that file.
  fs::create_symlink("new.bin", folder.file("dangling.bin"));
  Save_Bin_File(image, folder.file("dangling.bin"));
  EXPECT_TRUE(fs::is_symlink(folder.file("dangling.bin")));
  EXPECT_EQ(fs::file_size(folder.file("new.bin")), 0x8000u);

  // Links that name each other name no file: refused, and both stay.
  fs::create_symlink("loop-b.bin", folder.file("loop-a.bin"));
  fs::create_symlink("loop-a.bin", folder.file("loop-b.bin"));
  EXPECT_THROW(Save_Bin_File(image, folder.file("loop-a.bin")), FileError);
  EXPECT_TRUE(fs::is_symlink(folder.file("loop-a.bin")));
  EXPECT_TRUE(fs::is_symlink(folder.file("loop-b.bin")));
#endif
}

TEST_F(AtomicSave, WhatIsNoRegularFileIsWrittenNotReplaced) {
#if defined(_WIN32)
  GTEST_SKIP() << kNoSpecialFilesOnWindows;
#else
  // A pipe with a reader gets the bytes and stays a pipe; one without a reader is an error,
  // not a wait.
  const std::string pipe = folder.file("pipe");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const int wait = pipeReaderWaitMs;
  pipeReaderWaitMs = 0;  // told at once, not after the reader's time
  EXPECT_THROW(Save_Bin_File(image, pipe), FileError) << "nobody reads the pipe";
  pipeReaderWaitMs = wait;
  // The save waits for the reader to open the pipe; what it read is looked at once it is done.
  std::string received;
  std::thread reader([&] { received = readFile(pipe); });
  EXPECT_NO_THROW(Save_Bin_File(image, pipe));
  reader.join();
  EXPECT_TRUE(received == std::string(0x8000, '\x42'));
  EXPECT_TRUE(fs::is_fifo(pipe));
  // A device node of our own (the system's null device, made here so that a fault cannot
  // replace the real one): written to, and still a device.
  const std::string device = folder.file("null");
  if (::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) {
    Save_Hex_File(image, device, FileFormat::IntelHex);
    EXPECT_TRUE(fs::is_character_file(device));
  }
#endif
}

TEST_F(AtomicSave, ANameAsLongAsTheSystemTakesCanBeSaved) {
  const std::string longName = folder.file(std::string(250, 'n') + ".bin");
  EXPECT_EQ((Save_Bin_File(image, longName), fs::file_size(longName)), 0x8000u);
  EXPECT_EQ(filesInFolder(), 2);
}

TEST_F(AtomicSave, AShortWriteIsAnErrorAndLeavesNoTrace) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows has no limit on a file's size that a program can set for itself";
#else
  // Let the file system refuse anything past 1,000 bytes, as a full disk would.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit previous{};
  ::getrlimit(RLIMIT_FSIZE, &previous);
  rlimit small = previous;
  small.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string error = saveError();
  std::string textError;
  try {
    Save_Hex_File(image, target, FileFormat::IntelHex);
  } catch (const FileError& e) {
    textError = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &previous);
  EXPECT_EQ(error, std::strerror(EFBIG));  // the system's words for a cause the table lacks
  EXPECT_FALSE(textError.empty());
  EXPECT_EQ(readFile(target), "old contents");
  EXPECT_EQ(filesInFolder(), 1);  // the temporary file is gone
#endif
}

TEST_F(AtomicSave, AFolderInPlaceOfAFileIsRefusedAsAFolder) {
  fs::create_directory(folder.file("folder.bin"));
  for (const FileFormat format : {FileFormat::Binary, FileFormat::IntelHex}) {
    try {
      saveInFormat(image, folder.file("folder.bin"), format);
      ADD_FAILURE() << "a folder was written over";
    } catch (const FileError& error) {
      EXPECT_STREQ(error.what(), "This is a folder, not a file");
    }
  }
  EXPECT_TRUE(fs::is_directory(folder.file("folder.bin")));
}

}  // namespace
}  // namespace tandra::test
