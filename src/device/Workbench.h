#pragma once

#include "device/BufferActions.h"
#include "device/ControlStates.h"
#include "device/DeviceSelection.h"
#include "device/DeviceSettings.h"
#include "device/Engine.h"
#include "device/Operations.h"
#include "image/HexView.h"
#include "image/ImageBuffer.h"
#include "link/D2XXUnit.h"
#include "link/Discovery.h"
#include "link/FirmwareUpdate.h"
#include "link/Host.h"
#include "link/Link.h"

namespace tandra {

class FtApi;

// Everything the window owns apart from its widgets: the link to the programmer, the image,
// the settings and the engine, wired together once. The window's handlers call the methods
// of the same names; tests drive them with a test host and the virtual programmer.
class Workbench {
 public:
  Workbench(FtApi& api, Host& host);
  Workbench(const Workbench&) = delete;
  Workbench& operator=(const Workbench&) = delete;

  Host& host;
  D2XXUnit usb;
  Link link;
  Discovery discovery;
  FirmwareUpdate firmware;
  ImageBuffer image;
  HexView view{image};
  DeviceSettings settings;
  ControlStates states;
  DeviceSelection selection;
  Engine engine;
  BufferActions buffer;
  Operations operations;

  // Start-up, the status line, the Quit button, the watchdog and closing.
  void FormCreate();
  void FormActivate();
  void StaticText3Click();
  void Quit_Func_ButClick() { link.Quit(); }
  void Timer1Timer() { link.Timer1Timer(); }
  void FormCloseQuery();
};

}  // namespace tandra
