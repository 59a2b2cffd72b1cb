#include "TestHost.h"

#include <algorithm>

namespace tandra::test {

std::string TestHost::caption(Control control) const {
  const auto it = captions.find(control);
  return it == captions.end() ? std::string() : it->second;
}

std::vector<std::string> TestHost::boxTexts() const {
  std::vector<std::string> texts;
  for (const Box& box : boxes) texts.push_back(box.text);
  return texts;
}

void TestHost::processMessages() {
  waitForEvents(1);
}

void TestHost::waitForEvents(int milliseconds) {
  ++pumps;
  clock.advance(Clock::Millis(std::max(milliseconds, 1)));
  if (watchdogRunning && clock.now() >= watchdogDeadline_) {
    watchdogRunning = false;
    if (onWatchdog) onWatchdog();
  }
  if (onPump) onPump();
}

void TestHost::startWatchdog() {
  ++watchdogStarts;
  watchdogRunning = true;
  watchdogDeadline_ = clock.now() + Clock::Millis(3000);
}

void TestHost::sleepMs(int milliseconds) {
  sleeps.push_back(milliseconds);
  clock.advance(Clock::Millis(milliseconds));
}

void TestHost::setVisible(Control control, bool shown) {
  if (shown) {
    visible.insert(control);
  } else {
    visible.erase(control);
  }
}

void TestHost::disableAllButtons() {
  buttonsBusy = true;
  operationButtonsEnabled = false;
  quitEnabled = false;
}

void TestHost::enableButtons(bool operationButtons) {
  buttonsBusy = false;
  quitEnabled = true;
  if (operationButtons) operationButtonsEnabled = true;
}

void TestHost::showBox(BoxKind kind, const std::string& text, std::optional<ScreenPoint> topLeft) {
  boxes.push_back({kind, text, topLeft, false});
}

bool TestHost::askYesNo(const std::string& text, std::optional<ScreenPoint> topLeft) {
  boxes.push_back({BoxKind::Information, text, topLeft, true});
  if (yesNoAnswers.empty()) return false;
  const bool answer = yesNoAnswers.front();
  yesNoAnswers.pop_front();
  return answer;
}

std::optional<std::string> TestHost::openFileDialog() {
  if (fileAnswers.empty()) return std::nullopt;
  std::optional<std::string> answer = fileAnswers.front();
  fileAnswers.pop_front();
  return answer;
}

}  // namespace tandra::test
