#pragma once

#include "controller/Panel.h"
#include "device/SocketView.h"

namespace tandra {

class Trace;

// "&Quit = " and an address with at least four digits: the Quit button's progress caption.
std::string quitCaption(std::uint32_t address);
// A socket label's caption: "n-" and the words of its standing, spaced as the window has them.
std::string socketCaption(int socket, std::string_view words);

// The core's events shown on the window's controls, with the window's own texts: the status
// line is StaticText3, an address is the Quit button's caption, a socket is its label "n-…",
// the busy state disables the buttons, and so on.
class PanelHost final : public SessionHost {
 public:
  explicit PanelHost(Panel& panel) : panel_(panel) {}

  // The trace each status-log line is written into as well; nullptr for none.
  void setTrace(Trace* trace) { trace_ = trace; }

  void processMessages() override { panel_.processMessages(); }
  void waitForEvents(int milliseconds) override { panel_.waitForEvents(milliseconds); }
  void startWatchdog() override { panel_.startWatchdog(); }
  void stopWatchdog() override { panel_.stopWatchdog(); }
  void sleepMs(int milliseconds) override { panel_.sleepMs(milliseconds); }
  std::int64_t monotonicMs() override { return panel_.monotonicMs(); }

  void insertLogLine(const std::string& text) override;
  void appendLogLine(const std::string& text) override;
  void clearLog() override { panel_.clearLog(); }
  void showLog(bool shown) override;

  void showStatus(const std::string& text) override;
  void showStatusAdvice(const std::string& text) override;
  void showBusy() override;
  void showIdle(bool programmerReached) override;
  void showOperation(const std::string& note) override;
  void showAddress(std::uint32_t address) override;
  void showProgress(const Progress& progress) override;
  void showProgressEnd() override;
  void showSocket(int socket, const std::string& words, SocketLook look) override;
  void showVpp(std::string_view volts) override;
  void showChecksum(std::uint16_t checksum) override;

  // Each also into the trace: what the operator saw and answered.
  void showMessage(BoxKind kind, const std::string& text,
                   std::optional<ScreenPoint> topLeft) override;
  bool askQuestion(const std::string& text, std::optional<ScreenPoint> topLeft) override;
  std::optional<std::string> chooseUpdateFile() override;

  // True from the moment a firmware update asks for its file until the operator's next action:
  // the status log stays in view all that time, through the busy state and the end of the
  // search, so that the check's bytes and what was expected and found can be read.
  bool logHeld() const { return logHeld_; }
  // The operator acts: a log held in view goes, and the log is shown and hidden as before.
  void releaseLog();

 private:
  Panel& panel_;
  Trace* trace_ = nullptr;
  bool logHeld_ = false;
};

}  // namespace tandra
