#pragma once

namespace tandra {

class Engine;
class Host;
class ImageBuffer;
class Link;
struct DeviceSettings;

// The busy state and the idle state that open and close every piece of work: the idle command,
// the socket mask, and the front end told that work begins or has ended.
class ControlStates {
 public:
  ControlStates(Host& host, Link& link, ImageBuffer& image, DeviceSettings& settings,
                Engine& engine)
      : host_(host), link_(link), image_(image), settings_(settings), engine_(engine) {}

  void BusyState();
  void IdleState();

  // The address the work has reached, shown on the Quit button.
  void showQuitCaption();

 private:
  Host& host_;
  Link& link_;
  ImageBuffer& image_;
  DeviceSettings& settings_;
  Engine& engine_;
};

}  // namespace tandra
