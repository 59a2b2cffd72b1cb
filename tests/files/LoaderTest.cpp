#include <sys/stat.h>

#include <cstring>

#include "FileTestSupport.h"
#include "files/Savers.h"

namespace tandra::test {
namespace {

constexpr std::int32_t k2716End = 0x7FF, k27C256End = 0x7FFF, k27C010End = 0x1FFFF,
                       k27C2001End = 0x3FFFF;

std::vector<std::uint8_t> bytesAt(const ImageBuffer& image, std::int32_t from, int count) {
  return {image.data() + from, image.data() + from + count};
}

TEST(IntelRecords, DataRecordsFoldIntoTheDeviceRangeAndRunOnPastIt) {
  ImageBuffer image = imageFor(k27C256End);
  loadText(image, ":10C0100000112233445566778899AABBCCDDEEFF28\r\n");
  EXPECT_EQ(bytesAt(image, 0x4010, 16),
            (std::vector<std::uint8_t>{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99,
                                       0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}));
  // Only a record's start is folded: one that starts near the end runs on past it.
  loadText(image, ":107FF800000102030405060708090A0B0C0D0E0F00\r\n");
  EXPECT_EQ(image[0x7FF8], 0x00);
  EXPECT_EQ(image[0x7FFF], 0x07);
  EXPECT_EQ(image[0x8000], 0x08);
  EXPECT_EQ(image[0x8007], 0x0F);
  EXPECT_EQ(image[0x8008], 0x00);
}

TEST(IntelRecords, SegmentAndLinearBasesAddUp) {
  const std::string data = ":02000000ABCD86\r\n";
  const struct {
    const char* bases;
    std::int32_t at;
  } cases[] = {{":020000021000EC\r\n", 0x10000},
               {":020000040001F9\r\n", 0x10000},
               {":020000021000EC\r\n:020000040001F9\r\n", 0x00000}};  // 0x20000 folds to 0
  for (const auto& c : cases) {
    ImageBuffer image = imageFor(k27C010End);
    loadText(image, std::string(c.bases) + data);
    EXPECT_EQ(image[c.at], 0xAB) << c.bases;
    EXPECT_EQ(image[c.at + 1], 0xCD) << c.bases;
  }
}

TEST(IntelRecords, OtherTypesStoreNothingAndTheEndRecordStopsTheLoad) {
  ImageBuffer image = imageFor(k27C256End);
  loadText(image, ":0400000300001234B3\r\n:0400000500001234B1\r\n:00000001FF\r\n:0100000055AA\r\n");
  EXPECT_EQ(image[0], 0x00);
  EXPECT_EQ(image[0x1234], 0x00);
  loadText(image, ":0100000055AA\r\n:0100010066");  // no end record: loads to the last line
  EXPECT_EQ(image[0], 0x55);
  EXPECT_EQ(image[1], 0x66);
}

TEST(IntelRecords, WrongChecksumsLoadAndAreReportedWithTheFirstLine) {
  ImageBuffer image = imageFor(k27C256End);
  const LoadReport report =
      loadText(image, ":0100000055AA\r\n:0100010066FF\r\n:0100020077FF\r\n:00000001FF\r\n");
  EXPECT_EQ(image[1], 0x66);
  EXPECT_EQ(image[2], 0x77);
  EXPECT_EQ(report.badChecksums, 2);
  EXPECT_EQ(report.firstBadChecksumLine, 2);
  EXPECT_NE(report.notes().find("2 records have a wrong checksum; the first is on line 2"),
            std::string::npos);
  EXPECT_EQ(loadText(image, ":0100000055AA\r\n:00000001FF\r\n").notes(), "");
}

TEST(IntelRecords, LongRecordsLoadWhole) {
  std::string record = ":FF010000";
  unsigned sum = 0xFF + 0x01;
  for (int i = 0; i < 255; ++i) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", i);
    record += digits;
    sum += static_cast<unsigned>(i);
  }
  char checksum[3];
  std::snprintf(checksum, sizeof checksum, "%02X", (256 - sum % 256) % 256);
  ImageBuffer image = imageFor(k27C256End, 0xEE);
  const LoadReport report = loadText(image, record + checksum + "\n");
  EXPECT_EQ(image[0x100], 0x00);
  EXPECT_EQ(image[0x1FE], 0xFE);
  EXPECT_EQ(image[0x1FF], 0xEE);
  EXPECT_EQ(report.badChecksums, 0);
}

TEST(SRecords, DataTypesCarryTheirAddressLengthAndEndTypesStop) {
  ImageBuffer image = imageFor(k27C010End);
  loadText(image,
           "S00600004844521B\r\n"
           "S1051234ABCDCA\r\n"
           "S2060123451122D3\r\n"
           "S30700001000334483\r\n"
           "S5030003F9\r\nS6040000FFFC\r\n"
           "S9030000FC\r\n"
           "S1050000EEEE1E\r\n");
  EXPECT_EQ(bytesAt(image, 0x1234, 2), (std::vector<std::uint8_t>{0xAB, 0xCD}));
  EXPECT_EQ(bytesAt(image, 0x12345 & k27C010End, 2), (std::vector<std::uint8_t>{0x11, 0x22}));
  EXPECT_EQ(bytesAt(image, 0x1000, 2), (std::vector<std::uint8_t>{0x33, 0x44}));
  EXPECT_EQ(image[0], 0x00);  // after S9: not read
}

TEST(AsciiHexLines, PairsFollowOnFromLineToLine) {
  ImageBuffer image = imageFor(k27C256End);
  loadText(image, "0102\r\n0304\r\nab");
  EXPECT_EQ(bytesAt(image, 0, 5), (std::vector<std::uint8_t>{0x01, 0x02, 0x03, 0x04, 0xAB}));
  // An odd last character is ignored; long lines load whole.
  ImageBuffer long_ = imageFor(k27C256End);
  loadText(long_, std::string(400, 'A') + "7");
  EXPECT_EQ(long_[199], 0xAA);
  EXPECT_EQ(long_[200], 0x00);
}

TEST(AsciiHexLines, BytesPastTheBufferAreDroppedAndCounted) {
  ImageBuffer image = imageFor(k27C2001End);
  std::string text;
  for (int line = 0; line < 0x40000 / 64 + 1; ++line) text += std::string(128, '5') + "\n";
  const LoadReport report = loadText(image, text);
  EXPECT_EQ(image[0x3FFFF], 0x55);
  EXPECT_EQ(report.bytesOutsideBuffer, 64u);
  EXPECT_NE(report.notes().find("64 bytes lay outside the buffer"), std::string::npos);
}

TEST(TextLoad, RecordsRunningPastTheBufferEndAreCutThere) {
  ImageBuffer image = imageFor(k27C2001End);
  // S2 record at 0x3FFFE with four bytes: two fit.
  const LoadReport report = loadText(image, "S2083FFFFE11223344D8\r\n");
  EXPECT_EQ(image[0x3FFFE], 0x11);
  EXPECT_EQ(image[0x3FFFF], 0x22);
  EXPECT_EQ(report.bytesOutsideBuffer, 2u);
}

TEST(TextLoad, EveryLineEndingEndsALine) {
  for (const char* end : {"\r\n", "\n", "\r"}) {
    ImageBuffer image = imageFor(k27C256End);
    loadText(image,
             std::string(":0100000055AA") + end + ":0100010066" + "98" + end + ":00000001FF" + end);
    EXPECT_EQ(image[0], 0x55) << int(end[0]);
    EXPECT_EQ(image[1], 0x66) << int(end[0]);
  }
  // An LF right after a CR belongs to it: no empty line in between to upset Ascii hex.
  ImageBuffer image = imageFor(k27C256End);
  loadText(image, "01\r\n\n02");
  EXPECT_EQ(bytesAt(image, 0, 2), (std::vector<std::uint8_t>{0x01, 0x02}));
}

TEST(TextLoad, CtrlZEndsTheText) {
  ImageBuffer image = imageFor(k27C256End);
  loadText(image,
           "0102\x1A"
           "0304");
  EXPECT_EQ(bytesAt(image, 0, 3), (std::vector<std::uint8_t>{0x01, 0x02, 0x00}));
}

TEST(TextLoad, BeforeAnyDeviceEveryRecordStartsAtZero) {
  ImageBuffer image = imageFor(0);
  loadText(image, ":02123400AABB55\r\n");
  EXPECT_EQ(bytesAt(image, 0, 2), (std::vector<std::uint8_t>{0xAA, 0xBB}));
}

TEST(TextLoad, FieldsThatAreNotHexStopTheLoadWithTheField) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"01 02", "'$ 0' is not a valid integer value"},
      {":", "'$' is not a valid integer value"},
      {":1G", "'$1G' is not a valid integer value"},
      {"s1050000AABB", "'$s1' is not a valid integer value"},
      {"  0102", "'$  ' is not a valid integer value"},
      {";comment", "'$;c' is not a valid integer value"},
      {":0400000011", "'$' is not a valid integer value"},  // data runs out
  };
  for (const auto& c : cases) {
    ImageBuffer image = imageFor(k27C256End);
    EXPECT_EQ(loadError(image, c.text), c.message) << c.text;
  }
  ImageBuffer image = imageFor(k27C256End);
  loadError(image, "01 02");
  EXPECT_EQ(image[0], 0x01);  // what was stored before the failure stays
}

TEST(TextLoad, LowerCaseDigitsAndAnEmptyTextLoad) {
  ImageBuffer image = imageFor(k27C256End);
  loadText(image, ":01000000abaa\r\n");
  EXPECT_EQ(image[0], 0xAB);
  EXPECT_EQ(loadError(image, ""), "");
}

TEST(BinaryLoad, ReplacesAtMostTheDeviceRange) {
  ScratchFolder folder;
  writeFile(folder.file("small.bin"), std::string(100, '\x11'));
  writeFile(folder.file("big.bin"), std::string(65536, '\x22'));
  ImageBuffer image = imageFor(k2716End, 0xFF);
  EXPECT_EQ(Load_Bin_File(image, folder.file("small.bin")).notes(), "");
  EXPECT_EQ(image[99], 0x11);
  EXPECT_EQ(image[100], 0xFF);
  const LoadReport report = Load_Bin_File(image, folder.file("big.bin"));
  EXPECT_EQ(image[0x7FF], 0x22);
  EXPECT_EQ(image[0x800], 0xFF);
  EXPECT_EQ(report.bytesNotLoaded, 65536u - 2048u);
  EXPECT_NE(report.notes().find("63488 bytes were not loaded"), std::string::npos);

  ImageBuffer noDevice = imageFor(0, 0xFF);  // before any device: one byte
  Load_Bin_File(noDevice, folder.file("small.bin"));
  EXPECT_EQ(noDevice[0], 0x11);
  EXPECT_EQ(noDevice[1], 0xFF);
}

TEST(BinaryLoad, AWriteProtectedFileLoads) {
  ScratchFolder folder;
  const std::string path = folder.file("protected.bin");
  writeFile(path, "\x5A\x5B");
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  ImageBuffer image = imageFor(k2716End);
  Load_Bin_File(image, path);
  EXPECT_EQ(image[1], 0x5B);
}

// The message and the notes of the FileError a load of `path` throws.
template <typename Load>
std::pair<std::string, std::string> failure(Load load, ImageBuffer& image,
                                            const std::string& path) {
  try {
    load(image, path);
  } catch (const FileError& error) {
    return {error.what(), error.notes()};
  }
  return {};
}

TEST(LoadErrors, WhatWasNotedBeforeAnErrorComesWithIt) {
  ImageBuffer image = imageFor(k27C2001End);
  const std::string text = "S20C03FFFC1122334455667788FF\r\nG1\r\n";
  try {
    loadText(image, text);
    ADD_FAILURE() << "the G1 line must stop the load";
  } catch (const FileError& error) {
    EXPECT_STREQ(error.what(), "'$G1' is not a valid integer value");
    EXPECT_EQ(error.line(), 2);
    EXPECT_NE(error.notes().find("4 bytes lay outside the buffer"), std::string::npos);
    EXPECT_NE(error.notes().find("wrong checksum; the first is on line 1"), std::string::npos);
    EXPECT_EQ(errorBoxText(error),
              "'$G1' is not a valid integer value.\n"
              "What was read up to the error on line 2 is in the buffer, with these notes:\n" +
                  error.notes());
  }
  EXPECT_EQ(bytesAt(image, 0x3FFFC, 4), (std::vector<std::uint8_t>{0x11, 0x22, 0x33, 0x44}));
}

TEST(LoadErrors, EndlessInputsEndWithAMessageOrANote) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows has no endless device in its folders, as /dev/zero is";
#endif
  ScratchFolder folder;
  ImageBuffer image = imageFor(k27C256End);
  // A device without an end: the bytes past the device are counted up to a limit.
  const LoadReport zeros = Load_Bin_File(image, "/dev/zero");
  EXPECT_GT(zeros.bytesNotLoaded, 0u);
  EXPECT_TRUE(zeros.notLoadedIsALowerBound);
  EXPECT_NE(zeros.notes().find("at least"), std::string::npos);
  // Text without line ends is refused at the first line too long for any record.
  const auto [message, notes] = failure(Load_Hex_File, image, "/dev/zero");
  EXPECT_NE(message.find("Line 1 "), std::string::npos) << message;
}

TEST(LoadErrors, ReadFailuresGiveTheMessageForTheirCause) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows has no file whose every read fails, as Linux's /proc/self/mem";
#endif
  // Reading the start of a process's own memory fails with an input/output error.
  ImageBuffer image = imageFor(k2716End);
  EXPECT_EQ(failure(Load_Bin_File, image, "/proc/self/mem").first, std::strerror(EIO));
  EXPECT_EQ(failure(Load_Hex_File, image, "/proc/self/mem").first, std::strerror(EIO));
  // Causes the table names keep its words; the others get the system's own text.
  EXPECT_EQ(ioMessageForErrno(ENOENT), "File not found");
  EXPECT_EQ(ioMessageForErrno(EACCES), "File access denied");
  EXPECT_EQ(ioMessageForErrno(ENOSPC), "Disk full");
  EXPECT_EQ(ioMessageForErrno(EIO), std::strerror(EIO));
  EXPECT_EQ(ioMessageForErrno(EINTR), std::strerror(EINTR));
}

TEST(LoadErrors, FieldsWithBytesBeyondAsciiAreShownReadably) {
  ImageBuffer image = imageFor(k2716End);
  EXPECT_EQ(loadError(image, "00\r\n\xFF\xFE\r\n"), "'$\\xFF\\xFE' is not a valid integer value");
  EXPECT_EQ(loadError(image, "0G\r\n"), "'$0G' is not a valid integer value");
}

TEST(TextLoad, FoldingThatMakesAFileWriteAnAddressTwiceIsNoted) {
  ImageBuffer whole = imageFor(0xFFFF);
  for (std::int32_t a = 0; a <= 0xFFFF; ++a) whole[a] = static_cast<std::uint8_t>(a >> 8);
  const std::string intel64K = hexFileText(whole, FileFormat::IntelHex);
  ImageBuffer image = imageFor(k27C256End);
  const LoadReport report = loadText(image, intel64K);
  EXPECT_EQ(report.bytesFoldedOver, 32768u);
  EXPECT_NE(report.notes().find("32768 bytes"), std::string::npos) << report.notes();

  // An image linked at 0x8000 folds onto the device without overlap: nothing to tell.
  std::string upperHalf;
  for (const std::string& line :
       {std::string(":020000020000FC\r\n"),
        std::string(":10800000") + "000102030405060708090A0B0C0D0E0F" + "F8\r\n",
        std::string(":00000001FF\r\n")}) {
    upperHalf += line;
  }
  EXPECT_EQ(loadText(image, upperHalf).notes(), "");
}

TEST(FileErrors, MissingFilesAndFoldersSayWhatIsWrong) {
  ScratchFolder folder;
  ImageBuffer image = imageFor(k2716End);
  const auto message = [&](auto load, const std::string& path) -> std::string {
    try {
      load(image, path);
    } catch (const FileError& error) {
      return error.what();
    }
    return {};
  };
  EXPECT_EQ(message(Load_Bin_File, folder.file("missing.bin")), "File not found");
  EXPECT_EQ(message(Load_Hex_File, folder.file("missing.hex")), "File not found");
  // A folder is said to be one, whichever way it would be read.
  EXPECT_EQ(message(Load_Hex_File, folder.path().string()), "This is a folder, not a file");
  EXPECT_EQ(message(Load_Bin_File, folder.path().string()), "This is a folder, not a file");
  EXPECT_EQ(boxText("File not found"), "File not found.");
  EXPECT_EQ(boxText("Disk full."), "Disk full.");
  EXPECT_EQ(ioMessage(106), "Invalid numeric input");
  EXPECT_EQ(ioMessage(103), "I/O error 103");
}

}  // namespace
}  // namespace tandra::test
