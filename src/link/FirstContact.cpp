#include "link/FirstContact.h"

#include <algorithm>

#include "link/D2XXUnit.h"
#include "link/Host.h"
#include "link/Link.h"

namespace tandra {

IdentifyProbe probeIdentify(Link& link) {
  IdentifyProbe probe;
  D2XXUnit& usb = link.usb();
  Host& host = link.host();
  // Nothing of an earlier reply may be taken for this one: the line must have been quiet for
  // the read time-out first, and a line that never falls quiet is no programmer to judge.
  const int quitAtStart = link.quitFlag;
  link.takeOwedBlocks(true);
  if (!link.drainUntilQuiet(Link::kReadTimeoutMs)) {
    probe.stopped = link.stopAskedSince(quitAtStart);
    probe.talking = !probe.stopped;
    return probe;
  }
  link.store(opcode::Identify);
  std::uint8_t* packet = link.packet();
  packet[7] = headerChecksum(packet);
  if (usb.WriteFTBuffer(Link::kCommandLength) < Link::kCommandLength) return probe;

  const auto full =
      static_cast<std::uint32_t>(Link::kCommandLength + Link::kDefaultReplyDataLength);
  const std::int64_t sent = host.monotonicMs();
  std::int64_t lastPieceAt = sent;
  while (probe.bytes < full) {
    const std::int64_t now = host.monotonicMs();
    if (now - lastPieceAt >= Link::kReplyGapMs) break;
    if (link.stopAskedSince(quitAtStart)) {
      probe.stopped = true;
      break;
    }
    if (usb.GetFTQueueStatus() != ft::Ok) break;
    if (usb.queueCount() == 0) {
      host.waitForEvents(Link::kPollMs);
      continue;
    }
    const std::int64_t seen = host.monotonicMs();
    if (probe.bytes > 0 && seen - lastPieceAt > probe.largestGapMs) {
      probe.largestGapMs = seen - lastPieceAt;
      probe.gapAfter = probe.bytes;
    }
    probe.bytes += usb.ReadFTBuffer(std::min(usb.queueCount(), full - probe.bytes), probe.bytes);
    ++probe.pieces;
    lastPieceAt = seen;
  }
  const std::uint8_t* reply = link.reply();
  probe.answered = probe.bytes >= Link::kCommandLength && reply[6] == 0x00;
  probe.major = reply[1];
  probe.minor = reply[2];
  if (probe.answered && !probe.stopped) link.settleReplyLength(probe.bytes);
  return probe;
}

}  // namespace tandra
