#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "link/Host.h"

namespace tandra {

// How a socket's label looks: as any other; under way in a running operation (no verdict yet);
// marked passed or failed once the operation has judged it; or left out of the operations.
enum class SocketLook { Plain, Running, Passed, Failed, Skipped };

// The word a look is written as in a trace: plain, running, passed, failed, skipped.
constexpr std::string_view socketLookWord(SocketLook look) {
  switch (look) {
    case SocketLook::Running:
      return "running";
    case SocketLook::Passed:
      return "passed";
    case SocketLook::Failed:
      return "failed";
    case SocketLook::Skipped:
      return "skipped";
    case SocketLook::Plain:
      break;
  }
  return "plain";
}

// The sockets and the settings they run with, as the device operations show them.
class SocketView {
 public:
  virtual ~SocketView() = default;
  // A socket's standing in the running operation, in the operation's words ("Verified OK",
  // "Didn't Verify", "Stopped", "Skipped"), and its look.
  virtual void showSocket(int socket, const std::string& words, SocketLook look) = 0;
  // The programming voltage now chosen, in volts as the data sheets write them ("12.5").
  virtual void showVpp(std::string_view /*volts*/) {}
  // The checksum of the image buffer's address window.
  virtual void showChecksum(std::uint16_t /*checksum*/) {}
};

// What a front end gives a session: what the link asks of it (time, the status, progress, the
// operator's boxes) and the sockets' view.
class SessionHost : public Host, public SocketView {};

}  // namespace tandra
