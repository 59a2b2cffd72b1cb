#include "cli/ConsoleHost.h"

#include <thread>

#include "cli/Console.h"
#include "common/HexText.h"
#include "common/TimeText.h"
#include "device/Session.h"
#include "link/Clock.h"
#include "link/Trace.h"

namespace tandra::cli {

namespace {

constexpr std::int64_t kWatchdogMs = 3000;
// A terminal line redrawn more often than this only flickers.
constexpr std::int64_t kRedrawMs = 100;

}  // namespace

ConsoleHost::ConsoleHost(Console& console, bool showProgress, const std::atomic<int>* stopSignal,
                         Clock* clock)
    : console_(console), drawProgress_(showProgress), stopSignal_(stopSignal), clock_(clock) {}

bool ConsoleHost::stopAsked() const {
  return (stopSignal_ != nullptr && stopSignal_->load() != 0) || console_.readerGone();
}

bool ConsoleHost::stopIfAsked() {
  if (!stopAsked()) return false;
  if (session_ != nullptr && !session_->stopped()) session_->stop();
  return true;
}

void ConsoleHost::processMessages() {
  // A stop ends the operation where Quit would, and every operation after it; then the
  // programmer is idled and let go as after any job.
  stopIfAsked();
  if (watchdogRunning_ && monotonicMs() >= watchdogDeadline_) {
    watchdogRunning_ = false;
    if (session_ != nullptr) session_->watchdogFired();
  }
}

void ConsoleHost::waitForEvents(int milliseconds) {
  processMessages();
  // With no window to serve, the wait is a sleep: a signal ends the job at the next look.
  if (milliseconds > 0) sleepMs(milliseconds);
}

void ConsoleHost::startWatchdog() {
  watchdogRunning_ = true;
  watchdogDeadline_ = monotonicMs() + kWatchdogMs;
}

void ConsoleHost::sleepMs(int milliseconds) {
  if (clock_ != nullptr) {
    clock_->sleepUntil(clock_->now() + Clock::Millis(milliseconds));
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::int64_t ConsoleHost::monotonicMs() {
  if (clock_ != nullptr) return clock_->now().count();
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void ConsoleHost::showProgress(const Progress& progress) {
  if (!drawProgress_) return;
  const std::int64_t now = monotonicMs();
  const bool last = progress.done >= progress.total;
  if (!last && lastDrawnMs_ >= 0 && now - lastDrawnMs_ < kRedrawMs) return;
  lastDrawnMs_ = now;
  const std::int64_t percent = progress.total > 0 ? progress.done * 100 / progress.total : 0;
  if (progress.countsRecords) {
    console_.progress("\r" + progress.operation + "  record " + std::to_string(progress.done) +
                      " of " + std::to_string(progress.total) + "  " + std::to_string(percent) +
                      "%\033[K");
    lineOpen_ = true;
    return;
  }
  // The address at work, and the device's last address: the end reads "0x3FFFF / 0x3FFFF".
  const auto lastAddress =
      static_cast<std::uint64_t>(std::max<std::int64_t>(progress.total - 1, 0));
  const auto address = std::min(static_cast<std::uint64_t>(progress.done), lastAddress);
  std::string line = "\r" + progress.operation + "  0x" + hexText(address, 5) + " / 0x" +
                     hexText(lastAddress, 5) + "  " + std::to_string(percent) + "%  " +
                     durationText(progress.elapsedMs) + " elapsed";
  if (progress.done > 0 && !last) {
    const std::int64_t left = progress.elapsedMs * (progress.total - progress.done) / progress.done;
    line += "  " + durationText(left) + " left";
  }
  console_.progress(line + "\033[K");
  lineOpen_ = true;
}

void ConsoleHost::endProgressLine() {
  if (!drawProgress_ || !lineOpen_) return;
  console_.progress("\r\033[K");
  lineOpen_ = false;
  lastDrawnMs_ = -1;
}

void ConsoleHost::logLine(const std::string& text) {
  logged.push_back(text);
  if (trace != nullptr) trace->log(text);
  if (verbose) {
    endProgressLine();
    console_.warn(text);
  }
}

void ConsoleHost::showStatus(const std::string& text) {
  status = text;
  if (trace != nullptr) trace->shown("status", text);
}

void ConsoleHost::showOperation(const std::string& note) {
  shownLooks.emplace_back();
  if (trace != nullptr) trace->shown("operation", note);
}

void ConsoleHost::showSocket(int socket, const std::string& words, SocketLook look) {
  if (!shownLooks.empty()) shownLooks.back()[socket] = look;
  if (trace != nullptr) trace->socketShown(socket, socketLookWord(look), words);
}

void ConsoleHost::showMessage(BoxKind kind, const std::string& text, std::optional<ScreenPoint>) {
  messages.push_back(text);
  if (trace != nullptr) trace->boxShown(kind, text);
}

bool ConsoleHost::askQuestion(const std::string& text, std::optional<ScreenPoint>) {
  messages.push_back(text);
  if (trace != nullptr) trace->questionAnswered(text, updateFile.has_value());
  return updateFile.has_value();
}

std::optional<std::string> ConsoleHost::chooseUpdateFile() {
  if (trace != nullptr) trace->updateFileChosen(updateFile);
  return updateFile;
}

}  // namespace tandra::cli
