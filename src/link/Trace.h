#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

namespace tandra {

// A record of what passed between the program and the programmer, for whoever has to find out
// why a run on real hardware went wrong: every call to the USB driver that moves or asks for
// something, with its time, the facts of the start-up, and every status-log line, in order.
// Plain text, one event a line:
//
//   <microseconds since the start> <what> <fields>
//
//   fact KEY VALUE                    program, driver, device, serial, firmware, arguments, exit
//   count STATUS N                    the number of devices the driver lists
//   serial INDEX STATUS TEXT          a device's serial number, by its index
//   description INDEX STATUS TEXT     a device's description, by its index
//   open STATUS TEXT                  opening the device with that serial number
//   timeouts STATUS READ WRITE        the read and write time-outs set, in milliseconds
//   > COUNT WRITTEN STATUS HEX...     bytes sent to the programmer
//   < COUNT STATUS HEX...             bytes received from it (COUNT 0: a read that got none)
//   queue STATUS                      a queue-status call that failed (the others are not kept)
//   close STATUS                      the device let go
//   log TEXT                          a line of the status log
//
// STATUS is the driver's status number (0 is success); HEX is two digits a byte. Leave out the
// first column (cut -d' ' -f2-) to compare two runs.
class Trace {
 public:
  static constexpr std::string_view kFirstLine =
      "# tandra trace 1: microseconds, event, fields (see the README)";

  // A trace written to `path` from now on; FileError when it cannot be made.
  static std::unique_ptr<Trace> create(const std::string& path);
  explicit Trace(std::ofstream file);

  void fact(std::string_view key, std::string_view value);
  // Any other event: what, and its fields as they are to stand.
  void event(std::string_view what, std::string_view fields);
  void sent(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t written,
            std::uint32_t status);
  void received(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t status);
  void log(std::string_view line);
  void flush() { file_.flush(); }

 private:
  void begin(std::string_view what);
  void hex(const std::uint8_t* bytes, std::uint32_t count);
  void end();

  std::ofstream file_;
  std::chrono::steady_clock::time_point start_;
  std::string line_;
};

}  // namespace tandra
