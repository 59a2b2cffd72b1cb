#pragma once

#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/Clock.h"
#include "device/SocketView.h"

namespace tandra {
class Clock;
class Session;
class Trace;
}  // namespace tandra

namespace tandra::cli {

class Console;

// The core's events for a program without a window. Messages and the status are kept for the
// job's report, the reply watchdog runs on the clock, a stop signal (or a reader that went
// away) stops the session, and the progress of long work is one line that updates in place on a
// terminal.
class ConsoleHost final : public SessionHost {
 public:
  // `showProgress`: draw the progress line (standard error is a terminal and not --quiet).
  // `stopSignal`: set by a signal that asks the job to stop. `clock`: the time waits are
  // measured and slept on (nullptr: the computer's).
  ConsoleHost(Console& console, bool showProgress, const std::atomic<int>* stopSignal,
              Clock* clock = nullptr);

  // The session a stop and the watchdog act on.
  void attach(Session& session) { session_ = &session; }
  // Whether a signal or a reader that went away asks the job to stop.
  bool stopAsked() const;
  // Stops the session when a stop is asked; true then.
  bool stopIfAsked();

  // How the firmware question and its file are answered.
  std::optional<std::string> updateFile;
  // The status log goes to standard error as it is written (-v), and into the trace.
  bool verbose = false;
  Trace* trace = nullptr;

  // What the core said.
  std::vector<std::string> messages;
  // The status log's lines in the order they were written, wherever the window puts them.
  std::vector<std::string> logged;
  std::string status;
  // Ends the progress line, so that what follows starts on a clean line.
  void endProgressLine();

  void processMessages() override;
  void waitForEvents(int milliseconds) override;
  void startWatchdog() override;
  void stopWatchdog() override { watchdogRunning_ = false; }
  void sleepMs(int milliseconds) override;
  std::int64_t monotonicMs() override;
  void insertLogLine(const std::string& text) override { logLine(text); }
  void clearLog() override {}
  void appendLogLine(const std::string& text) override { logLine(text); }
  void showStatus(const std::string& text) override;
  void showOperation(const std::string& note) override;
  void showProgress(const Progress& progress) override;
  void showProgressEnd() override { endProgressLine(); }
  void logLine(const std::string& text);
  void showSocket(int socket, const std::string& words, SocketLook look) override;
  void showMessage(BoxKind kind, const std::string& text, std::optional<ScreenPoint>) override;
  bool askQuestion(const std::string& text, std::optional<ScreenPoint>) override;
  std::optional<std::string> chooseUpdateFile() override;

  // Every operation's sockets as their labels last looked (in a window): what a replay holds
  // against the trace's.
  std::vector<std::map<int, SocketLook>> shownLooks;

 private:
  Console& console_;
  bool drawProgress_;
  const std::atomic<int>* stopSignal_;
  Clock* clock_;
  Session* session_ = nullptr;
  bool watchdogRunning_ = false;
  std::int64_t watchdogDeadline_ = 0;
  std::int64_t lastDrawnMs_ = -1;
  bool lineOpen_ = false;
};

}  // namespace tandra::cli
