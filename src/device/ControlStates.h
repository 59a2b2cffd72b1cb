#pragma once

#include <cstdint>
#include <string>

namespace tandra {

class Engine;
class Host;
class ImageBuffer;
class Link;
struct DeviceSettings;

// "&Quit = " and an address with at least four digits: the Quit button's progress caption.
std::string quitCaption(std::int32_t address);

// The busy state and the idle state that open and close every piece of work: the buttons,
// the pop-ups, the Quit caption, the idle command and the socket mask.
class ControlStates {
 public:
  ControlStates(Host& host, Link& link, ImageBuffer& image, DeviceSettings& settings,
                Engine& engine)
      : host_(host), link_(link), image_(image), settings_(settings), engine_(engine) {}

  void BusyState();
  void IdleState();

  // The Quit caption with the current address.
  void showQuitCaption();

 private:
  Host& host_;
  Link& link_;
  ImageBuffer& image_;
  DeviceSettings& settings_;
  Engine& engine_;
};

}  // namespace tandra
