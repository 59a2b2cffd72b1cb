#include "device/ControlStates.h"

#include "common/HexText.h"
#include "device/DeviceSettings.h"
#include "device/Engine.h"
#include "image/ImageBuffer.h"
#include "link/Host.h"
#include "link/Link.h"

namespace tandra {

std::string quitCaption(std::int32_t address) {
  return "&Quit = " + hexText(static_cast<std::uint32_t>(address), 4);
}

void ControlStates::showQuitCaption() {
  host_.setCaption(Control::Quit_Func_But, quitCaption(image_.currentAddress));
}

void ControlStates::BusyState() {
  link_.SendIdle();
  host_.disableAllButtons();
  host_.setVisible(Control::Memo1, false);
  showQuitCaption();
  engine_.setMaskFromCount(settings_.socketCount);
  engine_.clearFailureFlags(settings_.socketCount);
  host_.processMessages();
}

void ControlStates::IdleState() {
  host_.enableButtons(link_.connectionState > kNoProgrammer);
  for (Control popup : {Control::P_Edit, Control::FillBox, Control::FillEdit, Control::File_Type,
                        Control::StaticText2, Control::Num_Of_Devices, Control::Progress}) {
    host_.setVisible(popup, false);
  }
  showQuitCaption();
  link_.SendIdle();
  host_.processMessages();
}

}  // namespace tandra
