#include "device/Operations.h"
#include "device/OperationTexts.h"

#include <algorithm>
#include <cstring>

#include "common/HexText.h"
#include "common/TimeText.h"
#include "device/ControlStates.h"
#include "device/DeviceSettings.h"
#include "device/Engine.h"
#include "device/FamilyRules.h"
#include "device/SocketImages.h"
#include "device/Verdict.h"
#include "image/Checksum.h"
#include "image/ImageBuffer.h"
#include "link/Host.h"
#include "link/Link.h"

namespace tandra {

namespace {

constexpr const char* kMoveStart = "Moving Device #1 to Buffer....";
constexpr const char* kMoveEnd = "Device #1 Has Been Moved to Buffer....";
constexpr std::uint8_t kSocketFailed = 0xFF;

bool isErased(std::uint8_t d, std::uint8_t) {
  return d == 0xFF;
}
bool isEqual(std::uint8_t d, std::uint8_t b) {
  return d == b;
}
// Programming can only clear bits: every 1 of the buffer byte must still be 1 in the device.
bool canBeProgrammed(std::uint8_t d, std::uint8_t b) {
  return (d & b) == b;
}

}  // namespace

std::string SocketResult::describe() const {
  std::string text = words;
  if (state != State::Failed || !failure) return text;
  text += " at 0x" + hexText(static_cast<std::uint32_t>(failure->address), 5);
  if (failure->expected && failure->actual) {
    text += ": expected 0x" + hexByte(*failure->expected) + ", read 0x" + hexByte(*failure->actual);
  }
  return text;
}

bool OperationResult::allPassed() const {
  // A socket left out is neither passed nor failed: it does not stand in the way.
  return !stopped && std::all_of(sockets.begin(), sockets.end(), [](const SocketResult& s) {
    return s.state == SocketResult::State::Passed || s.state == SocketResult::State::Skipped;
  });
}

bool Operations::replyArrived() {
  // Whole by count, and the answer to its own command: replies out of step stop the run, their
  // line already in the log.
  if (link_.replyWhole() && link_.stepFault().empty()) return true;
  // A lost reply has its line from the watchdog, and a Quit is the operator's own doing; a
  // reply that came incomplete would stop the run without a word.
  if (link_.quitFlag <= 0 && link_.faultLine().empty()) {
    const std::string line = "The programmer's reply came incomplete (" +
                             std::to_string(link_.replyLength()) + " of " +
                             std::to_string(link_.replyExpected()) + " bytes): the run stopped.";
    host_.insertLogLine(line);
    link_.recordFault(line);
  }
  link_.quitFlag = std::max(link_.quitFlag, Link::kStop);
  return false;
}

bool Operations::readBlock() {
  engine_.ReadBlock();
  return replyArrived();
}

bool Operations::stepAddress(std::int32_t by) {
  image_.currentAddress += by;
  if (image_.currentAddress < image_.deviceEndAddress) return false;
  link_.quitFlag += 1;
  return true;
}

bool Operations::interrupted(bool reachedEnd) const {
  return link_.quitFlag - (reachedEnd ? 1 : 0) > 0;
}

void Operations::enterBusyState() {
  link_.beginOperation();
  states_.BusyState();
  // A programmer that did not answer the idle command may still send that reply after the wait
  // gave up on it (the watchdog, Quit). Taken for the first block's reply, it would move every
  // later reply onto the command after its own, and a socket would be judged by another's.
  idleUnanswered_ = link_.connectionState == kIdentified && !link_.replyWhole();
  // A programmer lost in an earlier operation is sent nothing until it is found again.
  if (link_.programmerLost()) {
    idleUnanswered_ = true;
    link_.recordFault("The programmer was lost: it must be found again first.");
  }
  if (idleUnanswered_) link_.quitFlag = std::max(link_.quitFlag, Link::kStop);
}

bool Operations::blocksMayGo() const {
  return !link_.stopHeld() && !idleUnanswered_;
}

bool Operations::deviceChosen() {
  if (settings_.deviceFamily != 0) return true;
  // Without a type there are no set-up, address or programming rules to drive the chips with.
  host_.showMessage(BoxKind::Information, kNoDeviceText, std::nullopt);
  return false;
}

template <typename ByteAction>
Operations::LoopEnd Operations::readBlocks(int onlySocket, ByteAction&& takeByte) {
  const bool everySocket = onlySocket == 0;
  bool reachedEnd = false;
  std::int32_t blockStart = image_.currentAddress;
  // A stop held from before the first block, or an unanswered idle command, reads nothing.
  if (!blocksMayGo()) return {true, blockStart};
  do {
    blockStart = image_.currentAddress;
    engine_.BlockAddressStep();
    showProgress(blockStart);
    const int firstSocket = everySocket ? 1 : onlySocket;
    const int lastSocket = everySocket ? std::min(settings_.socketCount, kSockets) : onlySocket;
    for (int socket = firstSocket; socket <= lastSocket; ++socket) {
      link_.currentSocket = socket;
      if (everySocket && !engine_.socketInPlay(socket)) continue;
      // Without a complete reply the link is in doubt: a further command could take the late
      // reply for its own. Nothing more is sent until the idle state has drained the link.
      if (!readBlock()) break;
      const std::uint8_t* block = link_.reply() + Link::kCommandLength;
      int& i = engine_.byteIndex;
      do {
        takeByte(image_.currentAddress + i, block[i]);
        ++i;
      } while (link_.quitFlag <= 0 && i < link_.replyDataLength);
    }
    reachedEnd = stepAddress(Engine::kBlockSize);
  } while (link_.quitFlag <= 0 && (!everySocket || engine_.activeSocketMask != 0));
  return {interrupted(reachedEnd), blockStart};
}

void Operations::runReadTest(const Texts& texts, ByteTest passes, bool erasedWanted) {
  if (!deviceChosen()) return;
  enterBusyState();
  engine_.ReadSetUp();
  host_.showOperation(texts.start);
  writeInitialSocketTexts(texts);
  beginProgress(texts.name);

  const LoopEnd end = readBlocks(0, [&](std::int32_t address, std::uint8_t device) {
    // Each socket against its own image; most often every socket has the image buffer's.
    const ImageBuffer& image = images_.of(link_.currentSocket);
    const std::uint8_t wanted = ImageBuffer::contains(address) ? image[address] : 0xFF;
    if (!passes(device, wanted)) {
      engine_.resultMessage = texts.failure;
      engine_.failureDetail = SocketFailure{address, erasedWanted ? 0xFF : wanted, device};
      engine_.FailureStep();
    }
  });
  // Nothing may come after the last reply: what does was taken for another's.
  const bool stopped = !link_.confirmInStep() || end.interrupted;
  if (stopped) {
    showStopped(end.blockStart);
  } else {
    host_.showStatus(texts.end);
  }
  endProgress(stopped ? end.blockStart : image_.currentAddress, stopped, &texts);
  states_.IdleState();
}

void Operations::BlankCheck() {
  runReadTest(kBlankTexts, isErased, true);
}
void Operations::Verify() {
  runReadTest(kVerifyTexts, isEqual);
}
void Operations::ProgramCompare() {
  runReadTest(kCompareTexts, canBeProgrammed);
}

void Operations::Move(int socket) {
  if (!deviceChosen()) return;
  enterBusyState();
  host_.showOperation(kMoveStart);
  engine_.ReadSetUp();
  beginProgress(kMoveName);

  // Socket 1 (or the one named) whatever the count; no socket is marked.
  const LoopEnd end = readBlocks(socket, [&](std::int32_t address, std::uint8_t device) {
    if (ImageBuffer::contains(address)) image_[address] = device;
  });
  const bool stopped = !link_.confirmInStep() || end.interrupted;
  if (stopped) {
    showStopped(end.blockStart, false);  // Move gives the sockets no verdict
  } else {
    host_.showStatus(kMoveEnd);
  }
  endProgress(stopped ? end.blockStart : image_.currentAddress, stopped, nullptr);
  showChecksum();
}

void Operations::showChecksum() {
  link_.SendIdle();
  host_.showChecksum(bufferChecksum(image_));
  states_.IdleState();
}

void Operations::copyPage(const ImageBuffer& image, std::int32_t start) {
  std::uint8_t* data = link_.packet() + Link::kCommandLength;
  for (int i = 0; i < Engine::kPageSize; ++i) {
    const std::int32_t address = start + i;
    data[i] = ImageBuffer::contains(address) ? image[address] : 0xFF;
  }
}

void Operations::programPage() {
  const FamilyRules& rules = familyRules(settings_.deviceFamily);
  const std::int32_t pageStart = image_.currentAddress - Engine::kPageSize;
  const ImageBuffer* inPacket = &image_;  // the page loop put the image buffer's page there
  for (int socket = 1; socket <= std::min(settings_.socketCount, kSockets); ++socket) {
    link_.currentSocket = socket;
    if (!engine_.socketInPlay(socket)) continue;
    // A socket with an image of its own gets its own page; sockets sharing one are sent the
    // page already in the packet.
    const ImageBuffer& image = images_.of(socket);
    if (&image != inPacket) {
      copyPage(image, pageStart);
      inPacket = &image;
    }
    const std::uint8_t selectCode = link_.selectSocket();
    link_.store(opcode::ProgramBlock);
    std::uint8_t* packet = link_.packet();
    packet[1] = rules.algorithmCode;
    packet[2] = rules.algorithmFlag;
    packet[3] = pulseWidth_;
    packet[4] = link_.highAddressByte;
    packet[5] = link_.controlByte;
    packet[6] = selectCode;
    link_.SendCommand();
    // Sent is pulsed, as far as anyone can tell: a page whose reply never came may have taken.
    lastPageSent_[static_cast<std::size_t>(socket - 1)] = pageStart;
    if (!replyArrived()) return;  // the link is in doubt: nothing more until it is drained
    if (link_.replyStatus() == kSocketFailed) {
      engine_.resultMessage = kProgramTexts.failure;
      // The programmer tells only that the page did not take, not which byte.
      engine_.failureDetail = SocketFailure{pageStart, {}, {}};
      engine_.FailureStep();
    }
  }
}

void Operations::Program() {
  if (!deviceChosen()) return;
  pulseWidth_ = settings_.pulseWidth;  // read once: the width of every page
  lastPageSent_ = {};

  enterBusyState();
  host_.showOperation(kProgramTexts.start);
  engine_.VppStep();
  writeInitialSocketTexts(kProgramTexts);
  beginProgress(kProgramTexts.name);

  engine_.VppStep();
  engine_.ProgramSetUp();
  image_.currentAddress = image_.deviceStartAddress;
  link_.packetLength = Link::kCommandLength + Engine::kPageSize;
  link_.replyDataLength = 0;

  bool reachedEnd = false;
  std::int32_t pageStart = image_.currentAddress;
  // A stop held from before the first page, or an unanswered idle command, sends no page at
  // all. (Quit, clicked in the window, lets the page under way go to every socket, as at any
  // other page.)
  if (blocksMayGo()) {
    do {
      pageStart = image_.currentAddress;
      engine_.BlockAddressStep();
      showProgress(pageStart);
      copyPage(image_, image_.currentAddress);
      image_.currentAddress += Engine::kPageSize;
      const bool lastPage = image_.currentAddress >= image_.deviceEndAddress;
      programPage();
      // The end is acted on only once every socket has answered the last page: raised before,
      // it would cut that page's reply waits short.
      if (lastPage) {
        reachedEnd = true;
        link_.quitFlag += 1;
      }
    } while (link_.quitFlag <= 0 && engine_.activeSocketMask != 0);
  }

  link_.packetLength = Link::kCommandLength;
  link_.replyDataLength = Link::kDefaultReplyDataLength;
  const bool inStep = link_.confirmInStep();
  const bool stopped = interrupted(reachedEnd) || !inStep;
  if (stopped) {
    showStopped(pageStart);
  } else {
    host_.showStatus(kProgramTexts.end);
  }
  endProgress(stopped ? pageStart : image_.currentAddress, stopped, &kProgramTexts);
  states_.IdleState();
}

void Operations::run(Operation operation, int socket) {
  if (link_.stopHeld()) return notStarted(operation);
  switch (operation) {
    case Operation::Program:
      return Program();
    case Operation::BlankCheck:
      return BlankCheck();
    case Operation::Verify:
      return Verify();
    case Operation::Move:
      return Move(socket);
    case Operation::ProgramCompare:
      return ProgramCompare();
  }
}

}  // namespace tandra
