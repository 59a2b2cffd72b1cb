#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "link/Host.h"
#include "link/Link.h"

// A front end on real time, as the command-line program is, that shows nothing: for measuring
// how long the core takes with a programmer that takes real time.
class WallHost final : public tandra::Host {
 public:
  tandra::Link* link = nullptr;  // what the watchdog acts on
  std::optional<std::string> updateFile;

  void processMessages() override {
    if (watchdogRunning_ && monotonicMs() >= watchdogDeadline_) {
      watchdogRunning_ = false;
      if (link != nullptr) link->Timer1Timer();
    }
  }
  void waitForEvents(int milliseconds) override {
    processMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  void startWatchdog() override {
    watchdogRunning_ = true;
    watchdogDeadline_ = monotonicMs() + 3000;
  }
  void stopWatchdog() override { watchdogRunning_ = false; }
  void sleepMs(int milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  std::int64_t monotonicMs() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void insertLogLine(const std::string&) override {}
  void appendLogLine(const std::string&) override {}
  void clearLog() override {}
  void showLog(bool) override {}
  void showStatus(const std::string&) override {}
  void showStatusAdvice(const std::string&) override {}
  void showBusy() override {}
  void showIdle(bool) override {}
  void showOperation(const std::string&) override {}
  void showAddress(std::uint32_t) override {}
  void showProgress(const tandra::Progress&) override {}
  void showProgressEnd() override {}
  void showSocket(int, const std::string&, tandra::SocketLook) override {}
  void showVpp(const std::string&) override {}
  void showChecksum(std::uint16_t) override {}
  void showMessage(tandra::BoxKind, const std::string&,
                   std::optional<tandra::ScreenPoint>) override {}
  bool askQuestion(const std::string&, std::optional<tandra::ScreenPoint>) override {
    return updateFile.has_value();
  }
  std::optional<std::string> chooseUpdateFile() override { return updateFile; }

 private:
  bool watchdogRunning_ = false;
  std::int64_t watchdogDeadline_ = 0;
};
