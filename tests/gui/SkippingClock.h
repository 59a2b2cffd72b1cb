#pragma once

#include "link/Clock.h"

// Real time, except that waiting is skipped: replies still arrive as late as they are made to,
// but a read that runs into its time-out (every header-only reply, read as 2,056 bytes) returns
// at once instead of holding the test for 500 ms.
class SkippingClock final : public tandra::Clock {
 public:
  Millis now() override { return tandra::SteadyClock::instance().now() + skipped_; }
  void sleepUntil(Millis when) override {
    if (when > now()) skipped_ += when - now();
  }

 private:
  Millis skipped_{0};
};
