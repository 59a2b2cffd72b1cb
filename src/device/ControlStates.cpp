#include "device/ControlStates.h"

#include "device/DeviceSettings.h"
#include "device/Engine.h"
#include "image/ImageBuffer.h"
#include "link/Host.h"
#include "link/Link.h"

namespace tandra {

void ControlStates::showQuitCaption() {
  host_.showAddress(static_cast<std::uint32_t>(image_.currentAddress));
}

void ControlStates::BusyState() {
  link_.SendIdle();
  host_.showBusy();
  showQuitCaption();
  engine_.setMaskFromCount(settings_.socketCount);
  engine_.clearFailureFlags(settings_.socketCount);
  host_.processMessages();
}

void ControlStates::IdleState() {
  // A programmer lost from the bus takes no operation until it has been found again.
  host_.showIdle(link_.connectionState > kNoProgrammer && !link_.programmerLost());
  showQuitCaption();
  link_.SendIdle();
  host_.processMessages();
}

}  // namespace tandra
