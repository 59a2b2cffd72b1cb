#include "cli/ConsoleHost.h"

#include <thread>

#include "common/HexText.h"
#include "common/TimeText.h"

namespace tandra::cli {

namespace {

constexpr std::int64_t kWatchdogMs = 3000;
// A terminal line redrawn more often than this only flickers.
constexpr std::int64_t kRedrawMs = 100;

}  // namespace

ConsoleHost::ConsoleHost(std::ostream* progress, const std::atomic<bool>* interrupted)
    : progress_(progress), interrupted_(interrupted) {}

std::string ConsoleHost::caption(Control control) const {
  const auto it = captions_.find(control);
  return it == captions_.end() ? std::string() : it->second;
}

void ConsoleHost::processMessages() {
  // Ctrl-C is the Quit button: the operation stops where Quit would stop it, and then the
  // programmer is idled and let go as after any operation.
  if (interrupted() && !quitPressed_) {
    quitPressed_ = true;
    if (onQuit) onQuit();
  }
  if (watchdogRunning_ && monotonicMs() >= watchdogDeadline_) {
    watchdogRunning_ = false;
    if (onWatchdog) onWatchdog();
  }
  // A reply wait asks here between polls of the driver. With no window to serve, a short
  // pause keeps the wait from taking a whole processor, at a cost far below a reply's time.
  if (watchdogRunning_) std::this_thread::sleep_for(std::chrono::microseconds(100));
}

void ConsoleHost::startWatchdog() {
  watchdogRunning_ = true;
  watchdogDeadline_ = monotonicMs() + kWatchdogMs;
}

void ConsoleHost::sleepMs(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::int64_t ConsoleHost::monotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void ConsoleHost::showProgress(const Progress& progress) {
  if (progress_ == nullptr) return;
  const std::int64_t now = monotonicMs();
  const bool last = progress.done >= progress.total;
  if (!last && lastDrawnMs_ >= 0 && now - lastDrawnMs_ < kRedrawMs) return;
  lastDrawnMs_ = now;
  const std::int64_t percent = progress.total > 0 ? progress.done * 100 / progress.total : 0;
  std::string line =
      "\r" + progress.operation + "  0x" + hexText(static_cast<std::uint64_t>(progress.done), 5) +
      " / 0x" +
      hexText(static_cast<std::uint64_t>(std::max<std::int64_t>(progress.total - 1, 0)), 5) + "  " +
      std::to_string(percent) + "%  " + minutesAndSeconds(progress.elapsedMs) + " elapsed";
  if (progress.done > 0 && !last) {
    const std::int64_t left = progress.elapsedMs * (progress.total - progress.done) / progress.done;
    line += "  " + minutesAndSeconds(left) + " left";
  }
  *progress_ << line << "\033[K" << std::flush;
  lineOpen_ = true;
}

void ConsoleHost::endProgressLine() {
  if (progress_ == nullptr || !lineOpen_) return;
  *progress_ << "\r\033[K" << std::flush;
  lineOpen_ = false;
  lastDrawnMs_ = -1;
}

void ConsoleHost::showBox(BoxKind, const std::string& text, std::optional<ScreenPoint>) {
  boxes.push_back(text);
}

bool ConsoleHost::askYesNo(const std::string& text, std::optional<ScreenPoint>) {
  boxes.push_back(text);
  return firmwareFile.has_value();
}

}  // namespace tandra::cli
