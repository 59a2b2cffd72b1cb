#include <sys/resource.h>

#include <csignal>
#include <cstring>

#include "FileTestSupport.h"
#include "files/Savers.h"

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

class AtomicSave : public ::testing::Test {
 protected:
  ScratchFolder folder;
  const std::string target = folder.file("image.bin");
  ImageBuffer image = imageFor(0x7FFF, 0x42);

  void SetUp() override { writeFile(target, "old contents"); }

  std::string saveError() {
    try {
      Save_Bin_File(image, target);
    } catch (const FileError& error) {
      return error.what();
    }
    return {};
  }
  int filesInFolder() const {
    return static_cast<int>(std::distance(fs::directory_iterator(folder.path()), {}));
  }
};

TEST_F(AtomicSave, ReplacesTheFileAndKeepsItsPermissions) {
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(saveError(), "");
  EXPECT_EQ(readFile(target), std::string(0x8000, '\x42'));
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(filesInFolder(), 1);
}

TEST_F(AtomicSave, AWriteProtectedFileIsRefusedAndKept) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write anything";
  fs::permissions(target, fs::perms::owner_read);
  EXPECT_EQ(saveError(), "File access denied");
  EXPECT_EQ(readFile(target), "old contents");
}

TEST_F(AtomicSave, AFolderThatTakesNoNewFileKeepsTheOldOne) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write anything";
  fs::permissions(folder.path(), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(saveError(), "File access denied");
  EXPECT_EQ(readFile(target), "old contents");
}

TEST_F(AtomicSave, AShortWriteIsAnErrorAndLeavesNoTrace) {
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
}

TEST_F(AtomicSave, AFolderInPlaceOfAFileIsRefused) {
  fs::create_directory(folder.file("folder.bin"));
  try {
    Save_Bin_File(image, folder.file("folder.bin"));
    FAIL() << "a folder was written over";
  } catch (const FileError& error) {
    EXPECT_STREQ(error.what(), "File access denied");
  }
}

}  // namespace
}  // namespace tandra::test
