#pragma once

#include <string>

namespace tandra {

class Engine;
class Host;
class ImageBuffer;
class Link;
struct DeviceSettings;

// The busy state and the idle state that open and close every piece of work: the buttons,
// the pop-ups, the Quit caption, the idle command and the socket mask.
class ControlStates {
 public:
  ControlStates(Host& host, Link& link, ImageBuffer& image, DeviceSettings& settings,
                Engine& engine)
      : host_(host), link_(link), image_(image), settings_(settings), engine_(engine) {}

  void BusyState();
  void IdleState();

  // "&Quit = " and the current address.
  std::string quitCaption() const;
  void showQuitCaption();

 private:
  Host& host_;
  Link& link_;
  ImageBuffer& image_;
  DeviceSettings& settings_;
  Engine& engine_;
};

}  // namespace tandra
