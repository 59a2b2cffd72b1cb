#include "link/Clock.h"

#include <thread>

namespace tandra {

Clock::Millis SteadyClock::now() {
  return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now().time_since_epoch());
}

void SteadyClock::sleepUntil(Millis when) {
  const Millis delay = when - now();
  if (delay.count() > 0) std::this_thread::sleep_for(delay);
}

SteadyClock& SteadyClock::instance() {
  static SteadyClock clock;
  return clock;
}

}  // namespace tandra
