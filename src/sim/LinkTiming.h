#pragma once

#include <cstddef>
#include <vector>

#include "link/FtApi.h"

namespace tandra::sim {

// When the bytes of the programmer's replies reach the host over a full-speed USB link through
// an FTDI chip, and how long the wire and the chips are busy in all: the virtual programmer's
// realistic timing. Times are milliseconds on the programmer's clock, with fractions.
class LinkTiming {
 public:
  static constexpr double kBytesPerMs = 1000;         // about 1 MB/s: what bulk transfers carry
  static constexpr std::size_t kPacketPayload = 62;   // a 64-byte packet less 2 status bytes
  static constexpr std::size_t kHighSpeedPayload = 510;  // a 512-byte packet less 2
  static constexpr double kLatencyTimerMs = FtApi::kShortLatencyTimerMs;  // as the drivers set it

  // A run of reply bytes that reaches the host at once: a full USB packet, or what the chip's
  // latency timer sent of a part-filled one.
  struct Chunk {
    double arrivesAtMs;
    std::size_t bytes;
  };
  // How the firmware writes a reply out: its bytes from `pauseAfter` on `pauseMs` later; and in
  // pieces of `pieceBytes`, each `everyMs` after the one before (0: in one go).
  struct Writing {
    std::size_t pauseAfter = 0;
    double pauseMs = 0;
    std::size_t pieceBytes = 0;
    double everyMs = 0;
  };

  // The USB chip's latency timer, and the reply bytes a USB packet carries to the host.
  void setLatencyTimerMs(double ms) { latencyTimerMs_ = ms; }
  void setPacketPayload(std::size_t bytes) { packetPayload_ = bytes; }

  // A command of `bytes` written by the host at `nowMs`.
  void commandWritten(double nowMs, std::size_t bytes);
  // The firmware's reply of `bytes` to the last command, begun `chipMs` after the command came
  // in (and not before the firmware has written out its previous reply), written as `writing`
  // says. Gives the chunks it reaches the host in.
  std::vector<Chunk> reply(std::size_t bytes, double chipMs, const Writing& writing);
  // The last command gets no reply: the wire alone was busy with it.
  void noReply();

  // How long the wire and the chips were busy with what was sent: the least time it could have
  // taken, were the host never to keep them waiting.
  double busyMs() const { return busyMs_; }
  void resetBusy() { busyMs_ = 0; }

 private:
  void busy(double fromMs, double toMs);

  double latencyTimerMs_ = kLatencyTimerMs;
  std::size_t packetPayload_ = kPacketPayload;
  double lineFreeAtMs_ = 0;
  double firmwareFreeAtMs_ = 0;
  double commandSentAtMs_ = 0;
  double commandArrivedAtMs_ = 0;
  double busyUntilMs_ = 0;
  double busyMs_ = 0;
};

}  // namespace tandra::sim
