#include "sim/LinkTiming.h"

#include <algorithm>

namespace tandra::sim {

void LinkTiming::busy(double fromMs, double toMs) {
  busyMs_ += std::max(0.0, toMs - std::max(fromMs, busyUntilMs_));
  busyUntilMs_ = std::max(busyUntilMs_, toMs);
}

void LinkTiming::commandWritten(double nowMs, std::size_t bytes) {
  commandSentAtMs_ = nowMs;
  commandArrivedAtMs_ = std::max(nowMs, lineFreeAtMs_) + static_cast<double>(bytes) / kBytesPerMs;
  lineFreeAtMs_ = commandArrivedAtMs_;
}

void LinkTiming::noReply() {
  busy(commandSentAtMs_, commandArrivedAtMs_);
}

std::vector<LinkTiming::Chunk> LinkTiming::reply(std::size_t bytes, double chipMs,
                                                 const Writing& writing) {
  const double start = std::max(commandArrivedAtMs_ + chipMs, firmwareFreeAtMs_);
  const auto written = [&](std::size_t i) {
    double at = start + static_cast<double>(i) / kBytesPerMs;
    if (writing.pauseMs > 0 && i >= writing.pauseAfter) at += writing.pauseMs;
    if (writing.pieceBytes > 0) {
      at += static_cast<double>(i / writing.pieceBytes) * writing.everyMs;
    }
    return at;
  };
  // The chip sends a packet as soon as it is full; a part-filled one when its latency timer
  // runs out, counted from the packet's first byte.
  std::vector<Chunk> chunks;
  std::size_t first = 0;
  for (std::size_t i = 0; i <= bytes; ++i) {
    const std::size_t held = i - first;
    if (held == 0) continue;
    const double timerRunsOut = written(first) + latencyTimerMs_;
    if (held == packetPayload_) {
      chunks.push_back({written(i - 1), held});
      first = i;
    } else if (i == bytes || written(i) > timerRunsOut) {
      chunks.push_back({std::max(timerRunsOut, written(i - 1)), held});
      first = i;
    }
  }
  firmwareFreeAtMs_ = bytes > 0 ? written(bytes - 1) : start;
  busy(commandSentAtMs_, chunks.empty() ? start : chunks.back().arrivesAtMs);
  return chunks;
}

}  // namespace tandra::sim
