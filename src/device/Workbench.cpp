#include "device/Workbench.h"

#include "common/HexText.h"

namespace tandra {

Workbench::Workbench(FtApi& api, Host& hostRef)
    : host(hostRef), usb(api, hostRef), link(usb, hostRef), discovery(usb, link, hostRef) {
  link.onCurrentAddressReset = [this] { image.currentAddress = image.deviceStartAddress; };
  discovery.runVppStep = [this] { VppStep(); };
}

void Workbench::FormCreate() {
  link.packetLength = Link::kCommandLength;
  link.replyDataLength = Link::kDefaultReplyDataLength;
  settings.vppSetting = 1;
  host.clearLog();
  host.setCaption(Control::Device, "No Device");
  host.processMessages();
}

void Workbench::FormActivate() {
  host.processMessages();
  discovery.run();
  BusyState();
  host.setVisible(Control::Memo1, false);
  host.setVisible(Control::Device_Box, true);
}

void Workbench::StaticText3Click() {
  discovery.run();
  IdleState();
}

void Workbench::FormCloseQuery() {
  link.quitFlag = 5;
  engine.byteIndex = 0;
  host.stopWatchdog();
  if (link.connectionState == kIdentified) {
    link.SendIdle();
    usb.CloseFTDevice();
  }
}

std::string Workbench::quitCaption() const {
  return "&Quit = " + hexText(static_cast<std::uint32_t>(image.currentAddress), 4);
}

void Workbench::BusyState() {
  link.SendIdle();
  host.disableAllButtons();
  host.setVisible(Control::Memo1, false);
  showQuitCaption();
  engine.setMaskFromCount(settings.socketCount);
  engine.clearFailureFlags(settings.socketCount);
  host.processMessages();
}

void Workbench::IdleState() {
  host.enableButtons(link.connectionState > kNoProgrammer);
  for (Control popup : {Control::P_Edit, Control::FillBox, Control::FillEdit, Control::File_Type,
                        Control::StaticText2, Control::Num_Of_Devices}) {
    host.setVisible(popup, false);
  }
  showQuitCaption();
  link.SendIdle();
  host.processMessages();
}

void Workbench::VppStep() {
  const VppLevel level = vppLevel(settings.vppSetting);
  if (level.caption != nullptr) host.setCaption(Control::Vpp_But, level.caption);
  settings.vppSelectCode = level.selectCode;
  settings.vppLevelCode = level.levelCode;
  link.SendVoltage(level.selectCode, level.levelCode);
}

}  // namespace tandra
