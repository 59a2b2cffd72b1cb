#pragma once

#include <chrono>

namespace tandra {

// Milliseconds on a monotonic clock. The reply watchdog, the virtual programmer's reply timing
// and read time-outs all run on one of these, so tests can drive time by hand.
class Clock {
 public:
  using Millis = std::chrono::milliseconds;
  virtual ~Clock() = default;
  virtual Millis now() = 0;
  virtual void sleepUntil(Millis when) = 0;
};

class SteadyClock final : public Clock {
 public:
  Millis now() override;
  void sleepUntil(Millis when) override;
  static SteadyClock& instance();
};

// Time that moves only when told to; sleeping jumps ahead at once.
class ManualClock final : public Clock {
 public:
  Millis now() override { return now_; }
  void sleepUntil(Millis when) override {
    if (when > now_) now_ = when;
  }
  void advance(Millis by) { now_ += by; }

 private:
  Millis now_{0};
};

}  // namespace tandra
