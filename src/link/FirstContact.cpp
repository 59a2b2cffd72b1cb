#include "link/FirstContact.h"

#include <algorithm>

#include "link/D2XXUnit.h"
#include "link/Host.h"
#include "link/Link.h"

namespace tandra {

namespace {
constexpr std::int64_t kFirstByteMs = 3000;  // the reply watchdog's period
}

IdentifyProbe probeIdentify(Link& link) {
  IdentifyProbe probe;
  D2XXUnit& usb = link.usb();
  Host& host = link.host();
  // Nothing of an earlier reply may be taken for this one: the line must have been quiet for
  // the read time-out first.
  for (std::int64_t quietSince = host.monotonicMs();
       host.monotonicMs() - quietSince < Link::kReadTimeoutMs;) {
    if (usb.GetFTQueueStatus() != ft::Ok) return probe;
    if (usb.queueCount() > 0) {
      usb.ReadFTBuffer(std::min<std::uint32_t>(usb.queueCount(), D2XXUnit::kTransferBufferSize));
      quietSince = host.monotonicMs();
    } else {
      host.waitForEvents(Link::kPollMs);
    }
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
    if (probe.bytes == 0 ? now - sent >= kFirstByteMs : now - lastPieceAt >= Link::kReadTimeoutMs)
      break;
    if (usb.GetFTQueueStatus() != ft::Ok) break;
    if (usb.queueCount() == 0) {
      host.waitForEvents(Link::kPollMs);
      continue;
    }
    if (probe.bytes > 0 && now - lastPieceAt > probe.largestGapMs) {
      probe.largestGapMs = now - lastPieceAt;
      probe.gapAfter = probe.bytes;
    }
    probe.bytes += usb.ReadFTBuffer(std::min(usb.queueCount(), full - probe.bytes), probe.bytes);
    ++probe.pieces;
    lastPieceAt = now;
  }
  const std::uint8_t* reply = link.reply();
  probe.answered = probe.bytes >= Link::kCommandLength && reply[6] == 0x00;
  probe.major = reply[1];
  probe.minor = reply[2];
  return probe;
}

}  // namespace tandra
