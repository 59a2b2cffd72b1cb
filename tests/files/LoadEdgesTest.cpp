// Loads from pipes whose writer is late, pauses or never comes, and the notes a load owes the
// operator: bytes past the device, what a binary file really held, one message per bad record.
#if !defined(_WIN32)
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include "FileTestSupport.h"
#include "common/InputFile.h"

namespace tandra::test {
namespace {

constexpr std::int32_t k2716End = 0x7FF, k27C256End = 0x7FFF;

TEST(LoadNotes, BytesPastTheDeviceAreToldForEveryFormat) {
  // 2716: an Ascii hex file of 4 KiB, and a record that runs on past the end.
  ImageBuffer image = imageFor(k2716End);
  std::string text;
  for (int line = 0; line < 64; ++line) text += std::string(128, 'A') + "\r\n";
  EXPECT_EQ(loadText(image, text).notes(),
            "The file holds 2048 bytes past the device's end (007FF): they are in the buffer but "
            "not programmed.");
  ImageBuffer runOn = imageFor(k2716End);
  EXPECT_EQ(loadText(runOn, ":0407FE00112233441D\r\n").bytesPastDevice, 2u);
  // Before a device is chosen nothing is past its end.
  ImageBuffer none = imageFor(0);
  EXPECT_EQ(loadText(none, text).bytesPastDevice, 0u);
}

TEST(LoadNotes, ABinaryFileIsCountedAsItIsReadNotAsItWasAtTheOpen) {
  ScratchFolder folder;
  const std::string path = folder.file("growing.bin");
  writeFile(path, std::string(0x900, '\x33'));
  InputFile file(path);
  std::ofstream(path, std::ios::binary | std::ios::app) << std::string(0x100, '\x44');
  ImageBuffer image = imageFor(k2716End);
  EXPECT_EQ(loadBinary(image, file).bytesNotLoaded, 0x200u);
}

TEST(LoadNotes, ARecordThatIsNoNumberIsToldOnceNotAlsoAsAWrongChecksum) {
  ImageBuffer image = imageFor(k27C256End);
  try {
    loadText(image, ":0200000011G23B\r\n");
    ADD_FAILURE() << "no error";
  } catch (const FileError& error) {
    EXPECT_STREQ(error.what(), "'$G2' is not a valid integer value");
    EXPECT_EQ(error.notes(), "");
    EXPECT_EQ(errorBoxText(error), "'$G2' is not a valid integer value.");
  }
  // A checksum field that is no number is only a wrong checksum: nothing else reads it.
  EXPECT_EQ(loadText(image, ":020000001122GG\r\n").badChecksums, 1);
}

TEST(LoadNotes, TheLargestDeviceOnOneAsciiHexLineLoadsAndLongerLinesNameTheLimit) {
  ImageBuffer image = imageFor(0x3FFFF);
  EXPECT_EQ(loadText(image, std::string(0x80000, '7')).notes(), "");
  EXPECT_EQ(image[0x3FFFF], 0x77);
  EXPECT_EQ(loadError(image, std::string(0x100001, '7')),
            "Line 1 is longer than 1048576 characters, the longest line this program reads");
}

}  // namespace
}  // namespace tandra::test

namespace tandra::test {
namespace {

// The notes a load owes about the text it read as a whole: a mark an editor put before the
// first record, text in two bytes a character, nothing set at all, records after the end, an end
// that never came, and lines that do not belong with the records around them.
TEST(TextNotes, WhatATextBeginsAndEndsWithIsReadOrTold) {
  const std::string utf16 =
      "The file is UTF-16 text, which this program does not read: save "
      "it as ASCII (or UTF-8) text";
  const std::string noByte = "The file sets no byte.";
  const std::string joined =
      "The end record on line 2 ends the load: the lines after it were not read (two files "
      "joined?).";
  const std::string noEnd = "No end record: the file may be cut short.";
  const std::string intel = ":020000001122CB\r\n", intelEnd = ":00000001FF\r\n";
  const std::string sRecord = "S10500001122C7\r\n";
  const std::string padded =
      "The end record on line 2 is followed by padding (NUL or FF bytes), which was passed over.";
  struct Case {
    const char* name;
    std::string text;
    std::string notes;  // or the error
    std::string information = {};
    std::int32_t address = 0x10;  // where the load leaves `value`
    std::uint8_t value = 0x00;
  };
  const Case cases[] = {
      {"UTF-8 mark, Intel", "\xEF\xBB\xBF" + intel + intelEnd, ""},
      {"UTF-8 mark, S-records", "\xEF\xBB\xBFS10500001122C7\r\nS9030000FC\r\n", ""},
      {"UTF-8 mark, Ascii hex",
       "\xEF\xBB\xBF"
       "1122\r\n",
       ""},
      {"UTF-16 little-endian",
       std::string("\xFF\xFE:\0"
                   "0\0",
                   6),
       utf16},
      {"UTF-16 big-endian",
       std::string("\xFE\xFF\0:\0"
                   "0",
                   6),
       utf16},
      {"nothing", "", noByte},
      {"blank lines", "\r\n\r\n", noByte},
      {"a mark alone", "\xEF\xBB\xBF", noByte},
      {"Intel end record alone", intelEnd, noByte},
      {"S-record header and end", "S004000048B3\r\nS9030000FC\r\n", noByte},
      {"blank lines after the end", "S10500001122C7\r\nS9030000FC\r\n\r\n  \r\n", ""},
      {"two S-record files", "S10500001122C7\r\nS9030000FC\r\nS1050010334473\r\nS9030000FC\r\n",
       joined},
      {"two Intel files", intel + intelEnd + ":02001000334477\r\n" + intelEnd, joined},
      // A record that lost its start code reads as Ascii hex, over the record before it.
      {"lost ':'", ":040000001122334452\r\n04000400556677883E\r\n" + intelEnd,
       "Line 2 reads as Ascii hex in an Intel Hex file: a lost ':'?", "", 0, 0x04},
      {"lost 'S'", sRecord + "1050010334473\r\nS9030000FC\r\n",
       "Line 2 reads as Ascii hex in an S-record file: a lost 'S'?", "", 0x0000, 0x10},
      // An address record of any other length than 2 would give a base of its checksum.
      {"segment record of 0 bytes", ":00000002FE\r\n:0100000011EE\r\n" + intelEnd,
       "The address record (type 02 or 04) on line 1 holds 0 bytes, not 2: it was not used.", "",
       0x00000, 0x11},
      {"linear record of 4 bytes", ":0400000400010000F7\r\n:0100000011EE\r\n" + intelEnd,
       "The address record (type 02 or 04) on line 1 holds 4 bytes, not 2: it was not used.", "",
       0x00000, 0x11},
      // An end that never came: Intel Hex always writes one; S-records may count theirs.
      {"Intel without an end", intel, noEnd},
      {"Intel cut at a Ctrl-Z", intel + "\x1A" + ":02001000334477\r\n" + intelEnd,
       "A Ctrl-Z on line 2 ends the text, with more after it that was not read."},
      {"Ascii hex cut at a Ctrl-Z",
       "1122\r\n\x1A"
       "3344\r\n",
       "A Ctrl-Z on line 2 ends the text, with more after it that was not read."},
      {"Ascii hex padded with Ctrl-Z", std::string("1122\r\n\x1A\x1A\0\0", 10), ""},
      {"S-records counted", sRecord + "S5030001FB\r\n", ""},
      {"S-records miscounted", sRecord + "S5030002FA\r\nS9030000FC\r\n",
       "The count record on line 2 counts 2 data records, but 1 came before it: records are "
       "missing."},
      {"S-records neither ended nor counted", sRecord, "",
       "The file has no end record and no count record: whether it is whole cannot be told."},
      // Padding after the end, as tools that fill a block write it.
      {"NULs after the end", intel + intelEnd + std::string(40, '\0'), "", padded},
      {"FFs and NULs after the end, a block of them",
       intel + intelEnd + std::string(5000, '\xFF') + "\r\n" + std::string(9000, '\0'), "", padded},
      {"Ctrl-Z and junk after the end", intel + intelEnd + "\x1A\x01\x02junk", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageBuffer image = imageFor(k27C256End);
    std::string told, information;
    try {
      const LoadReport report = loadText(image, c.text);
      told = report.notes();
      information = report.information();
    } catch (const FileError& error) {
      told = error.what();
    }
    EXPECT_EQ(told, c.notes);
    EXPECT_EQ(information, c.information);
    EXPECT_EQ(image[c.address], c.value);
  }
  ImageBuffer image = imageFor(k27C256End);
  EXPECT_EQ(loadText(image, "\xEF\xBB\xBF:020000001122CB\r\n").bytesSet(), 2u);
  EXPECT_EQ(image[1], 0x22);
}

TEST(TextNotes, AnEmptyBinaryFileOrPipeSetsNoByte) {
  ScratchFolder folder;
  writeFile(folder.file("empty.bin"), "");
  ImageBuffer image = imageFor(k27C256End);
  const LoadReport report = Load_Bin_File(image, folder.file("empty.bin"));
  EXPECT_TRUE(report.empty());
  EXPECT_EQ(report.notes(), "The file sets no byte.");
  EXPECT_EQ(Load_Hex_File(image, folder.file("empty.bin")).notes(), "The file sets no byte.");
  std::istringstream nothing;
  EXPECT_EQ(loadBinary(image, nothing).bytesSet(), 0u);
}

TEST(TextNotes, RecordsPastTheDeviceAreFoldedAndToldOnceWithTheFirst) {
  struct Case {
    const char* text;
    std::int32_t deviceEnd;
    std::string information;
  };
  const Case cases[] = {
      {":02800000AABB19\r\n:01801000CCA3\r\n:00000001FF\r\n", k27C256End,
       "Records past the device's end (07FFF) were folded onto it: the first, at 08000, was "
       "stored at 00000."},
      {"S1058000AABB15\r\nS9030000FC\r\n", k2716End,
       "Records past the device's end (007FF) were folded onto it: the first, at 08000, was "
       "stored at 00000."},
      {":020000001122CB\r\n:00000001FF\r\n", k27C256End, ""},
      {":02800000AABB19\r\n:00000001FF\r\n", 0, ""},  // no device chosen: nothing to fold onto
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ImageBuffer image = imageFor(c.deviceEnd);
    const LoadReport report = loadText(image, c.text);
    EXPECT_EQ(report.information(), c.information);
    EXPECT_EQ(report.notes(), "") << "folding an image linked higher loses nothing";
  }
}

// Named pipes: a POSIX system's alone; on Windows the cases stand skipped, with the reason.
#if defined(_WIN32)
class PipeLoad : public ::testing::Test {};

TEST_F(PipeLoad, AWriterThatStartsLateIsWaitedFor) {
  GTEST_SKIP() << kNoSpecialFilesOnWindows;
}

TEST_F(PipeLoad, AWriterThatNeverComesIsAnErrorInTime) {
  GTEST_SKIP() << kNoSpecialFilesOnWindows;
}

TEST_F(PipeLoad, AWriterThatPausesIsCutThereAndSaysSo) {
  GTEST_SKIP() << kNoSpecialFilesOnWindows;
}
#else
// The pipe's waits as the test has them, so that none takes time. Before any byte came, the
// reader finds the pipe quiet `quietBefore` times (its writer starts after them); once bytes
// came and were all read, `quietAfter` times (the writer pauses there). Otherwise the bytes
// are waited for as they come.
struct PipeScript {
  std::mutex mutex;
  std::condition_variable changed;
  int quietBefore = 0;
  int quietAfter = 0;
  bool paused = false;  // a quiet after bytes was given
  bool sawBytes = false;
  void quiet(int& count, bool pause) {
    const std::lock_guard<std::mutex> lock(mutex);
    --count;
    paused = paused || pause;
    changed.notify_all();
  }
};
PipeScript pipeScript;

int scriptedWait(int fd, int /*timeoutMs*/) {
  pollfd waiting{fd, POLLIN, 0};
  int ready = ::poll(&waiting, 1, 0);
  if (ready == 0 && !pipeScript.sawBytes && pipeScript.quietBefore > 0) {
    pipeScript.quiet(pipeScript.quietBefore, false);
    return 0;
  }
  if (ready == 0 && pipeScript.sawBytes && pipeScript.quietAfter > 0) {
    pipeScript.quiet(pipeScript.quietAfter, true);
    return 0;
  }
  if (ready == 0) ready = ::poll(&waiting, 1, 10000);
  pipeScript.sawBytes = pipeScript.sawBytes || ready > 0;
  return ready;
}

// A program upstream of a named pipe: it opens it, writes `first` once the reader has found
// the pipe quiet as often as the script says, and `second` once the reader found it quiet
// after `first` (or the test is over); then it closes it.
class LateWriter {
 public:
  LateWriter(std::string pipe, std::string first, std::string second = {})
      : thread_([this, pipe, first, second] {
          const int fd = ::open(pipe.c_str(), O_WRONLY);
          if (fd < 0) return;
          const auto put = [fd](const std::string& bytes) {
            for (std::size_t done = 0; done < bytes.size();) {
              const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
              if (n <= 0) return;
              done += static_cast<std::size_t>(n);
            }
          };
          waitFor([] { return pipeScript.quietBefore == 0; });
          put(first);
          if (!second.empty()) {
            waitFor([] { return pipeScript.paused; });
            put(second);
          }
          ::close(fd);
        }) {}
  ~LateWriter() {
    {
      const std::lock_guard<std::mutex> lock(pipeScript.mutex);
      over_ = true;
      pipeScript.changed.notify_all();
    }
    thread_.join();
  }

 private:
  template <typename Condition>
  void waitFor(Condition condition) {
    std::unique_lock<std::mutex> lock(pipeScript.mutex);
    pipeScript.changed.wait(lock, [&] { return condition() || over_; });
  }

  bool over_ = false;  // guarded by pipeScript.mutex
  std::thread thread_;
};

class PipeLoad : public ::testing::Test {
 protected:
  ScratchFolder folder;
  const std::string pipe = folder.file("pipe");
  ImageBuffer image = imageFor(k27C256End);
  void SetUp() override {
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::signal(SIGPIPE, SIG_IGN);  // a writer whose reader has gone on gets an error instead
    InputFile::waitForBytes = scriptedWait;
  }
  void TearDown() override { InputFile::waitForBytes = nullptr; }
  // The quiet waits the next load meets.
  static void script(int quietBefore, int quietAfter) {
    const std::lock_guard<std::mutex> lock(pipeScript.mutex);
    pipeScript.quietBefore = quietBefore;
    pipeScript.quietAfter = quietAfter;
    pipeScript.paused = false;
    pipeScript.sawBytes = false;
  }
};

TEST_F(PipeLoad, AWriterThatStartsLateIsWaitedFor) {
  // Two quiet waits, a second all told, before the first bytes come: still waited for.
  script(2, 0);
  {
    LateWriter writer(pipe, ":020000001122CB\r\n:00000001FF\r\n");
    EXPECT_EQ(Load_Hex_File(image, pipe).notes(), "");
  }
  EXPECT_EQ(pipeScript.quietBefore, 0);
  EXPECT_EQ(image[1], 0x22);
  script(2, 0);
  {
    LateWriter writer(pipe, std::string(0x8000, '\x5A'));
    EXPECT_EQ(Load_Bin_File(image, pipe).notes(), "");
  }
  EXPECT_EQ(image[0x7FFF], 0x5A);
}

TEST_F(PipeLoad, AWriterThatNeverComesIsAnErrorInTime) {
  const int waited = InputFile::writerWaitMs;
  InputFile::writerWaitMs = 700;
  script(4, 0);
  std::string message;
  try {
    Load_Hex_File(image, pipe);
  } catch (const FileError& error) {
    message = error.what();
  }
  InputFile::writerWaitMs = waited;
  EXPECT_EQ(message, "No program opened the pipe to write to it within 1 seconds");
  EXPECT_EQ(pipeScript.quietBefore, 2);  // 2 waits of 500 ms: past the 700 asked
}

TEST_F(PipeLoad, AWriterThatPausesIsCutThereAndSaysSo) {
  // The first lines come, then the pipe keeps quiet for a wait: the load ends there.
  script(0, 1);
  {
    LateWriter writer(pipe, "0102\r\n0304\r\n", "0506\r\n");
    const LoadReport report = Load_Hex_File(image, pipe);
    EXPECT_EQ(report.notes(),
              "The input stopped for 500 ms after line 2; what came before is loaded.");
  }
  EXPECT_EQ(image[3], 0x04);
  EXPECT_EQ(image[4], 0x00);
  script(0, 1);
  {
    LateWriter writer(pipe, std::string(100, '\x11'), std::string(100, '\x22'));
    EXPECT_EQ(Load_Bin_File(image, pipe).notes(),
              "The input stopped for 500 ms after 100 bytes; what came before is loaded.");
  }
}
#endif

}  // namespace
}  // namespace tandra::test
