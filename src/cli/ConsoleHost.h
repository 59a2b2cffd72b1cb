#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "link/Host.h"

namespace tandra::cli {

// The window's part, for a program without one. Captions are kept for the report, boxes
// become messages, the reply watchdog runs on the clock, Ctrl-C presses the Quit button, and
// the progress of long work is one line that updates in place on a terminal.
class ConsoleHost final : public Host {
 public:
  // `progress`: where the progress line goes (a terminal), or nowhere. `interrupted`: set by
  // Ctrl-C.
  ConsoleHost(std::ostream* progress, const std::atomic<bool>* interrupted);

  std::function<void()> onQuit;      // what the Quit button does
  std::function<void()> onWatchdog;  // what the reply watchdog does when it fires
  // How the firmware question and its file dialog are answered.
  std::optional<std::string> firmwareFile;

  // What the core showed.
  std::vector<std::string> boxes;
  std::deque<std::string> log;  // front is the newest line
  std::string caption(Control control) const;
  bool interrupted() const { return interrupted_ != nullptr && interrupted_->load(); }
  // Ends the progress line, so that what follows starts on a clean line.
  void endProgressLine();

  void processMessages() override;
  void startWatchdog() override;
  void stopWatchdog() override { watchdogRunning_ = false; }
  void sleepMs(int milliseconds) override;
  std::int64_t monotonicMs() override;
  void insertLogLine(const std::string& text) override { log.push_front(text); }
  void appendLogLine(const std::string& text) override { log.push_back(text); }
  void clearLog() override { log.clear(); }
  void setCaption(Control control, const std::string& text) override { captions_[control] = text; }
  void setHint(Control, const std::string&) override {}
  void setVisible(Control, bool) override {}
  void setFocus(Control) override {}
  void disableAllButtons() override {}
  void enableButtons(bool) override {}
  void enableQuitButton() override {}
  void showSocketFailed(int, bool) override {}
  void showProgress(const Progress& progress) override;
  void showBox(BoxKind kind, const std::string& text, std::optional<ScreenPoint>) override;
  bool askYesNo(const std::string& text, std::optional<ScreenPoint>) override;
  std::optional<std::string> openFileDialog() override { return firmwareFile; }

 private:
  std::ostream* progress_;
  const std::atomic<bool>* interrupted_;
  bool quitPressed_ = false;
  bool watchdogRunning_ = false;
  std::int64_t watchdogDeadline_ = 0;
  std::int64_t lastDrawnMs_ = -1;
  bool lineOpen_ = false;
  std::map<Control, std::string> captions_;
};

}  // namespace tandra::cli
