#include "device/Workbench.h"

namespace tandra {

Workbench::Workbench(FtApi& api, Host& hostRef)
    : host(hostRef),
      usb(api, hostRef),
      link(usb, hostRef),
      discovery(usb, link, hostRef),
      firmware(usb, link, hostRef),
      states(hostRef, link, image, settings, engine),
      selection(hostRef, link, image, settings, states),
      engine(hostRef, link, image, settings, selection),
      buffer(hostRef, link, image, states),
      operations(hostRef, link, image, settings, engine, states, selection, buffer) {
  link.onCurrentAddressReset = [this] { image.currentAddress = image.deviceStartAddress; };
  link.onReplyLost = [this] { view.cursorRow = 0; };
  discovery.runVppStep = [this] { selection.VppStep(); };
  discovery.runFirmwareUpdate = [this] { firmware.run(); };
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
  states.BusyState();
  host.setVisible(Control::Memo1, false);
  host.setVisible(Control::Device_Box, true);
}

void Workbench::StaticText3Click() {
  discovery.run();
  states.IdleState();
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

}  // namespace tandra
