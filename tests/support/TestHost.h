#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "controller/Panel.h"
#include "controller/PanelHost.h"
#include "link/Clock.h"

namespace tandra::test {

// A window without a window: records what its controls are told, answers boxes and dialogs from
// a script, and runs the reply watchdog on a hand-driven clock. Each message pump moves the
// clock on by one millisecond, so a wait that is never answered meets the watchdog after 3,000
// pumps. `events` is the core's Host on it, as the window has one.
class TestHost final : public Panel {
 public:
  struct Box {
    BoxKind kind;
    std::string text;
    std::optional<ScreenPoint> topLeft;
    bool question = false;
  };

  ManualClock clock;
  PanelHost events{*this};
  // Called when the watchdog fires (wired to Link::Timer1Timer by the test).
  std::function<void()> onWatchdog;
  // Called at every message pump, after the clock moved; tests use it to click Quit.
  std::function<void()> onPump;

  // --- what happened ---
  std::deque<std::string> log;  // front is line 0
  std::map<Control, std::string> captions;
  std::map<Control, std::vector<std::string>> captionHistory;
  std::map<Control, std::string> hints;
  std::map<int, SocketLook> socketLooks;
  // The sockets whose labels look so now.
  std::set<int> socketsLooking(SocketLook look) const {
    std::set<int> sockets;
    for (const auto& [socket, shown] : socketLooks) {
      if (shown == look) sockets.insert(socket);
    }
    return sockets;
  }
  std::vector<Progress> progress;
  std::set<Control> visible;
  std::optional<Control> focused;
  std::vector<Box> boxes;
  std::vector<int> sleeps;
  int pumps = 0;
  int watchdogStarts = 0;
  bool watchdogRunning = false;
  bool buttonsBusy = false;
  bool operationButtonsEnabled = true;  // as at start: every button enabled
  bool quitEnabled = true;

  // --- scripted answers ---
  std::deque<bool> yesNoAnswers;                       // empty: answer No
  std::deque<std::optional<std::string>> fileAnswers;  // empty: cancel

  std::string caption(Control control) const;
  bool isVisible(Control control) const { return visible.count(control) != 0; }
  std::vector<std::string> boxTexts() const;

  void processMessages() override;
  // A pump whose clock moves on by the time waited (at least a millisecond, as any pump).
  void waitForEvents(int milliseconds) override;
  void startWatchdog() override;
  void stopWatchdog() override { watchdogRunning = false; }
  void sleepMs(int milliseconds) override;
  std::int64_t monotonicMs() override { return clock.now().count(); }
  void insertLogLine(const std::string& text) override { log.push_front(text); }
  void appendLogLine(const std::string& text) override { log.push_back(text); }
  void clearLog() override { log.clear(); }
  void setCaption(Control control, const std::string& text) override {
    captions[control] = text;
    captionHistory[control].push_back(text);
  }
  void setHint(Control control, const std::string& text) override { hints[control] = text; }
  void setVisible(Control control, bool shown) override;
  void setFocus(Control control) override { focused = control; }
  void disableAllButtons() override;
  void enableButtons(bool operationButtons) override;
  void enableQuitButton() override { quitEnabled = true; }
  void showSocketLook(int socket, SocketLook look) override { socketLooks[socket] = look; }
  void showProgress(const Progress& shown) override { progress.push_back(shown); }
  void showBox(BoxKind kind, const std::string& text, std::optional<ScreenPoint> topLeft) override;
  bool askYesNo(const std::string& text, std::optional<ScreenPoint> topLeft) override;
  std::optional<std::string> openFileDialog() override;

 private:
  Clock::Millis watchdogDeadline_{0};
};

}  // namespace tandra::test
