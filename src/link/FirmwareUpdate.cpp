#include "link/FirmwareUpdate.h"

#include <algorithm>
#include <cstring>

#include "common/FileError.h"
#include "common/HexText.h"
#include "common/InputFile.h"
#include "link/D2XXUnit.h"
#include "link/Discovery.h"
#include "link/Host.h"
#include "link/Link.h"

namespace tandra {

namespace {

constexpr std::uint8_t kHeaderMark[12] = {'U', 'p', 'd', 'a', 't', 'e',
                                          ' ', 'F', 'i', 'l', 'e', 0x06};
constexpr std::uint8_t kFlashCheck[8] = {0xAA, 0x43, 0x00, 0x00, 0x00, 0x00, 0x00, 0xED};
constexpr std::uint8_t kRestart[8] = {0x52, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x52};
constexpr std::size_t kExpectedHigh = 14;
constexpr std::size_t kExpectedLow = 15;

}  // namespace

std::size_t FirmwareUpdate::recordCount(std::size_t length) {
  return length < kHeaderSize ? 0 : (length - kHeaderSize) / kRecordSize;
}

bool FirmwareUpdate::headerIsValid(const std::vector<std::uint8_t>& file) {
  // The expected check value follows the mark: a file too short to hold it is no update file.
  return file.size() >= kHeaderSize &&
         std::equal(std::begin(kHeaderMark), std::end(kHeaderMark), file.begin() + 2);
}

std::vector<std::uint8_t> FirmwareUpdate::readFile(const std::string& path) const {
  // Read as an image file is: a pipe or a device the operator picks cannot hold the search.
  return aboutFile(path, [&] {
    InputFile in(path);
    std::vector<std::uint8_t> file(kBufferSize);
    file.resize(in.read(file.data(), file.size()));
    return file;
  });
}

void FirmwareUpdate::sendRecords(const std::vector<std::uint8_t>& file) {
  link_.packetLength = static_cast<int>(kRecordSize);
  std::uint8_t* packet = link_.packet();
  const std::size_t records = recordCount(file.size());
  Progress progress{kProgressName, 0, static_cast<std::int64_t>(records), 0, true};
  const std::int64_t startedMs = host_.monotonicMs();
  for (std::size_t i = 0; i < records; ++i) {
    progress.done = static_cast<std::int64_t>(i);
    progress.elapsedMs = host_.monotonicMs() - startedMs;
    host_.showProgress(progress);
    const std::size_t start = kHeaderSize + kRecordSize * i;
    std::memcpy(packet, file.data() + start, kRecordSize);
    // Progress: bytes 2 and 3 of the record that follows, or of this one when it is the last
    // the file holds.
    const std::size_t next = start + kRecordSize;
    const std::size_t shown = next + 3 < file.size() ? next : start;
    host_.showAddress(file[shown + 2] * 256u + file[shown + 3]);
    link_.SendAndWait(ReplyUse::Header, "USB Device Write TimeOut 1...");
  }
  progress.done = progress.total;
  progress.elapsedMs = host_.monotonicMs() - startedMs;
  host_.showProgress(progress);
}

bool FirmwareUpdate::checkFlash(const std::vector<std::uint8_t>& file) {
  link_.packetLength = Link::kCommandLength;
  std::memcpy(link_.packet(), kFlashCheck, sizeof kFlashCheck);
  // The check's bytes are judged: nothing of an earlier reply may still be on its way, and a
  // line that never falls quiet leaves nothing to judge.
  if (!link_.SendAndWait(ReplyUse::Header, "USB Device Write TimeOut 2...",
                         BeforeSend::WaitForQuiet)) {
    host_.appendLogLine("Expected - " + hexByte(file[kExpectedHigh]) + hexByte(file[kExpectedLow]));
    host_.appendLogLine(std::string("Found    - no check could be asked for: ") +
                        (link_.stopHeld() ? "the update was stopped" : Link::kTalkingLine));
    return false;
  }

  // Only what came is shown: the rest of the read buffer holds older bytes.
  const std::uint8_t* reply = link_.reply();
  const auto came = std::min<std::uint32_t>(link_.replyLength(), Link::kCommandLength);
  for (std::uint32_t i = 0; i < came; ++i) host_.appendLogLine(hexByte(reply[i]));
  host_.appendLogLine("Expected - " + hexByte(file[kExpectedHigh]) + hexByte(file[kExpectedLow]));
  if (!link_.replyHeaderArrived()) {
    host_.appendLogLine("Found    - no reply came to the flash check");
    return false;  // no good update without the programmer's word for it
  }
  host_.appendLogLine("Found    - " + hexByte(reply[2]) + hexByte(reply[3]));
  return reply[2] == file[kExpectedHigh] && reply[3] == file[kExpectedLow];
}

void FirmwareUpdate::restart() {
  std::memcpy(link_.packet(), kRestart, sizeof kRestart);
  usb_.WriteFTBuffer(sizeof kRestart);
  // The command must leave the USB chip before anything touches it again: opening the
  // programmer anew purges (or resets) the chip, and would throw away a restart not yet sent
  // on to the firmware.
  host_.sleepMs(kRestartSendMs);
}

void FirmwareUpdate::run() {
  restartSent_ = false;
  host_.showBusy();
  host_.showStatus(kUpdatingText);
  const std::optional<std::string> path = host_.chooseUpdateFile();
  if (path) {
    const std::vector<std::uint8_t> file = readFile(*path);
    if (!headerIsValid(file)) {
      host_.showMessage(BoxKind::Warning, kInvalidFileText, std::nullopt);
    } else {
      sendRecords(file);
      const bool good = checkFlash(file);
      host_.showMessage(BoxKind::Warning, good ? kGoodText : kBadText, std::nullopt);
      host_.showProgressEnd();
      restart();
      restartSent_ = true;
      // The programmer runs its new firmware only once it has been found again.
      host_.showStatus(good ? kUpdatedStatus : kFailedStatus);
      host_.showStatusAdvice(Discovery::kRetryHint);
    }
  }
  link_.packetLength = Link::kCommandLength;
}

}  // namespace tandra
