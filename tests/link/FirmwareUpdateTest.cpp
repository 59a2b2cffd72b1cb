#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "LinkFixture.h"
#include "common/FileError.h"
#include "common/InputFile.h"
#include "link/Discovery.h"
#include "link/FirmwareUpdate.h"

namespace tandra::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class FirmwareUpdateTest : public LinkFixture {
 protected:
  FirmwareUpdateTest() {
    openIdentified();
    folder_ = std::filesystem::temp_directory_path() /
              ("tandra-update-" + std::to_string(std::random_device()()));
    std::filesystem::create_directories(folder_);
  }
  ~FirmwareUpdateTest() override { std::filesystem::remove_all(folder_); }

  // Offers `file` in the open dialog and runs the update.
  void update(const Bytes& file) {
    const std::string path = (folder_ / "update.bin").string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    host.fileAnswers.push_back(path);
    firmware.run();
  }

  // Packets sent, by kind.
  int records() const {
    int n = 0;
    for (const Bytes& p : programmer.packets()) n += p.size() == 74;
    return n;
  }
  const Bytes* find(std::uint8_t op) const {
    for (const Bytes& p : programmer.packets()) {
      if (p.size() == 8 && p[0] == op) return &p;
    }
    return nullptr;
  }
  std::vector<std::string> logTail(std::size_t n) const {
    return {host.log.end() - static_cast<long>(n), host.log.end()};
  }

  FirmwareUpdate firmware{usb, link, host.events};
  std::filesystem::path folder_;
};

TEST_F(FirmwareUpdateTest, EveryWholeRecordIsSentThenTheCheckAndTheRestart) {
  for (int count : {0, 10, 72, 80}) {
    programmer.clearPackets();
    update(VirtualProgrammer::makeUpdateFile(count));
    EXPECT_EQ(records(), count) << count;
    ASSERT_NE(find(0xAA), nullptr);
    EXPECT_EQ(*find(0xAA), (Bytes{0xAA, 0x43, 0, 0, 0, 0, 0, 0xED}));
    ASSERT_NE(find(0x52), nullptr);
    EXPECT_EQ(*find(0x52), (Bytes{0x52, 0, 0, 0, 0, 0, 0, 0x52}));
    EXPECT_EQ(programmer.packets().back()[0], 0x52);  // the restart comes last
    EXPECT_EQ(link.packetLength, 8);
  }
}

TEST_F(FirmwareUpdateTest, RecordsGoOutWithTheirChecksumAndTheProgressOfTheNext) {
  Bytes file = VirtualProgrammer::makeUpdateFile(10);
  update(file);
  const Bytes& first = programmer.packets()[0];
  EXPECT_EQ(Bytes(first.begin(), first.begin() + 7), Bytes(file.begin() + 16, file.begin() + 23));
  EXPECT_EQ(first[7], headerChecksum(first.data()));
  EXPECT_EQ(Bytes(first.begin() + 8, first.end()), Bytes(file.begin() + 24, file.begin() + 90));
  // The caption shows bytes 2 and 3 of the record after the one being sent; for the last
  // record, its own.
  const std::vector<std::string>& progress = host.captionHistory[Control::Quit_Func_But];
  ASSERT_EQ(progress.size(), 10u);
  EXPECT_EQ(progress[0], "&Quit = 0040");
  EXPECT_EQ(progress[8], "&Quit = 0240");
  EXPECT_EQ(progress[9], "&Quit = 0240");
}

TEST_F(FirmwareUpdateTest, AGoodCheckValueIsLoggedAndReported) {
  update(VirtualProgrammer::makeUpdateFile(10));
  const std::vector<std::string> expected = {
      "AA", "00", "67", "73", "00", "00", "00", "84", "Expected - 6773", "Found    - 6773"};
  EXPECT_EQ(logTail(10), expected);
  EXPECT_EQ(host.boxTexts(), std::vector<std::string>{"Good Update..."});
  EXPECT_EQ(host.boxes[0].kind, BoxKind::Warning);
  // Nothing else could be started meanwhile; the bar counted the records and is gone, and the
  // status line says what to do next.
  EXPECT_TRUE(host.buttonsBusy);
  ASSERT_EQ(host.progress.size(), 11u);
  EXPECT_EQ(host.progress.front().done, 0);
  EXPECT_EQ(host.progress.back().done, 10);
  EXPECT_EQ(host.progress.back().total, 10);
  EXPECT_TRUE(host.progress.back().countsRecords);
  EXPECT_FALSE(host.isVisible(Control::Progress));
  EXPECT_EQ(host.caption(Control::StaticText3), FirmwareUpdate::kUpdatedStatus);
  EXPECT_EQ(host.hints[Control::StaticText3], Discovery::kRetryHint);
  EXPECT_EQ(programmer.restarts(), 1);
  EXPECT_EQ(programmer.firmwareMinor(), 20);
}

TEST_F(FirmwareUpdateTest, ADifferentCheckValueIsABadUpdateAndStillRestarts) {
  // Either byte of the check value may differ.
  for (const std::size_t differs : {15, 14}) {
    SCOPED_TRACE(differs);
    host.boxes.clear();
    Bytes file = VirtualProgrammer::makeUpdateFile(5);
    file[differs] ^= 0x01;
    update(file);
    EXPECT_EQ(host.log.back().substr(0, 11), "Found    - ");
    EXPECT_NE(host.log.back().substr(11), host.log[host.log.size() - 2].substr(11));
    EXPECT_EQ(host.boxTexts(), std::vector<std::string>{"Warning: Bad Update..."});
    EXPECT_EQ(host.caption(Control::StaticText3), FirmwareUpdate::kFailedStatus);
  }
  EXPECT_EQ(programmer.restarts(), 2);
}

TEST_F(FirmwareUpdateTest, TheHeaderMarkDecidesNotTheFirstTwoBytes) {
  Bytes file = VirtualProgrammer::makeUpdateFile(3);
  file[0] = 0x12;
  file[1] = 0x34;
  update(file);
  EXPECT_EQ(records(), 3);

  for (Bytes bad : {Bytes(VirtualProgrammer::makeUpdateFile(3)), Bytes(10, 0x00)}) {
    if (bad.size() > 13) bad[13] = 0x07;
    host.boxes.clear();
    programmer.clearPackets();
    update(bad);
    EXPECT_EQ(host.boxTexts(),
              std::vector<std::string>{
                  "Invalid File Type...\r\nCan Not Update Units With This File......"});
    EXPECT_TRUE(programmer.packets().empty());
    EXPECT_EQ(link.packetLength, 8);
  }
}

TEST_F(FirmwareUpdateTest, ALongFileIsUsedUpToTheBuffer) {
  Bytes file = VirtualProgrammer::makeUpdateFile(124);
  file.resize(20000, 0x5A);
  update(file);
  EXPECT_EQ(records(), 124);  // (9,215 - 16) / 74 whole records
}

TEST_F(FirmwareUpdateTest, ACancelledDialogSendsNothingAndKeepsTheCaption) {
  firmware.run();
  EXPECT_TRUE(programmer.packets().empty());
  EXPECT_EQ(host.caption(Control::StaticText3), "Updating Programmer Flash Code....");
  EXPECT_EQ(link.packetLength, 8);
}

TEST_F(FirmwareUpdateTest, AnUnreadableFileThrowsBeforeAnythingIsSent) {
  host.fileAnswers.push_back((folder_ / "missing.bin").string());
  try {
    firmware.run();
    FAIL() << "no error";
  } catch (const FileError& error) {
    EXPECT_STREQ(error.what(), "File not found");
  }
  EXPECT_TRUE(programmer.packets().empty());
  EXPECT_EQ(link.packetLength, 8);
}

// A pipe nobody writes to holds the search up only for a while, and is no update.
TEST_F(FirmwareUpdateTest, APipeNobodyWritesToIsNoUpdate) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows keeps no named pipes in its folders";
#else
  const std::string pipe = (folder_ / "pipe").string();
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  host.fileAnswers.push_back(pipe);
  const int waited = InputFile::writerWaitMs;
  InputFile::writerWaitMs = 600;
  EXPECT_THROW(firmware.run(), FileError);
  InputFile::writerWaitMs = waited;
  EXPECT_TRUE(programmer.packets().empty());
#endif
}

TEST_F(FirmwareUpdateTest, UnansweredRecordsAreLoggedAndTheTransferGoesOn) {
  programmer.dropReplies(1);
  update(VirtualProgrammer::makeUpdateFile(6));
  EXPECT_EQ(records(), 6);
  EXPECT_EQ(std::count(host.log.begin(), host.log.end(),
                       "Device no longer present ... PortStatus-0 USB-5"),
            1);
  EXPECT_EQ(host.boxTexts(), std::vector<std::string>{"Good Update..."});
}

TEST_F(FirmwareUpdateTest, ShortWritesAreLoggedWithTheirNumber) {
  programmer.shortenWrites(2, 1);
  update(VirtualProgrammer::makeUpdateFile(1));
  EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "USB Device Write TimeOut 1..."), 1);
  EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "USB Device Write TimeOut 2..."), 1);
}

TEST_F(FirmwareUpdateTest, AnUnansweredFlashCheckIsNeverAGoodUpdateAndNoBytesAreMadeUp) {
  // A check value that the stale reply bytes would match.
  Bytes file = VirtualProgrammer::makeUpdateFile(0);
  programmer.dropReplies(1);
  update(file);
  EXPECT_EQ(host.boxTexts(), std::vector<std::string>{"Warning: Bad Update..."});
  EXPECT_EQ(logTail(2), (std::vector<std::string>{"Expected - 0000",
                                                  "Found    - no reply came to the flash check"}));
  EXPECT_TRUE(std::none_of(host.log.begin(), host.log.end(), [](const std::string& line) {
    return line.size() == 2;
  })) << "no reply bytes that never came";
}

TEST_F(FirmwareUpdateTest, TheFlashCheckWaitsUntilNothingOfTheRecordsRepliesIsLeft) {
  // Replies of a whole block, the last record's held up after its header: its rest comes while
  // the check would be on its way, and must not be judged as the check's reply.
  programmer.setFullLengthReplies(true);
  Bytes file = VirtualProgrammer::makeUpdateFile(3);
  programmer.pauseReplies(1, 8, Clock::Millis(20));
  update(file);
  EXPECT_EQ(host.boxTexts(), std::vector<std::string>{"Good Update..."});
}

TEST_F(FirmwareUpdateTest, ALineThatKeepsTalkingEndsTheFlashCheckWithinItsBound) {
  // The last record's reply is lost; then the line talks and never falls quiet (another FTDI
  // device, a firmware run wild): the check is not asked for, and the update is not good.
  host.onPump = [this] {
    if (records() == 5 && programmer.fullLengthReplies() == false) {
      programmer.dropReplies(1);
      programmer.setFullLengthReplies(true);  // marks it armed
    }
    if (!host.log.empty() && host.log.front().starts_with("Device no longer present")) {
      programmer.setTalking(true);
    }
  };
  const auto started = host.clock.now();
  update(VirtualProgrammer::makeUpdateFile(6));
  EXPECT_LE((host.clock.now() - started).count(), 10000);
  EXPECT_EQ(find(0xAA), nullptr);
  EXPECT_EQ(host.log.front(), "the line kept talking for 3 s: this may not be a programmer");
  EXPECT_EQ(host.log.back(), "Found    - no check could be asked for: the line kept talking for "
                             "3 s: this may not be a programmer");
  EXPECT_EQ(host.boxTexts(), std::vector<std::string>{"Warning: Bad Update..."});
}

}  // namespace
}  // namespace tandra::test
