#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "link/Commands.h"

namespace tandra {

class SessionHost;
class ImageBuffer;
class Link;
struct DeviceSettings;

// Where a socket first failed: the address, and for a byte test the byte the buffer wanted and
// the byte the chip gave (Program's page refusal has neither).
struct SocketFailure {
  std::int32_t address = 0;
  std::optional<std::uint8_t> expected;
  std::optional<std::uint8_t> actual;
};

// Prepares the programmer for reading or programming a device family, places addresses on its
// three latches, reads blocks from one socket and records failed sockets.
class Engine {
 public:
  static constexpr int kBlockSize = 2048;
  static constexpr int kPageSize = 256;

  Engine(SessionHost& host, Link& link, ImageBuffer& image, DeviceSettings& settings)
      : host_(host), link_(link), image_(image), settings_(settings) {}

  // Bit s-1 set while socket s is in play.
  int activeSocketMask = 0;
  // 1 once socket s has failed in the current operation (index s-1).
  std::array<int, kSockets> socketFailureFlags{};
  std::string resultMessage;
  // Set with the result message before the failure step: where and how the socket failed.
  std::optional<SocketFailure> failureDetail;
  // The first failure of each socket in the current operation (index s-1).
  std::array<std::optional<SocketFailure>, kSockets> firstFailures{};
  std::uint8_t familyAddressBits = 0;
  std::uint8_t baseControlByte = 0;
  std::uint8_t powerByte = 0;
  // Position within the current block or page.
  int byteIndex = 0;

  // The sockets an operation starts with, bit s-1 for socket s: sockets 1 to the socket count
  // (0x01, 0x03 ... 0x1F) less the sockets left out.
  int socketsInUse() const;
  // The mask set to the sockets in use, for a socket count of 1 to 5 (the settings' count); any
  // other count leaves the mask.
  void setMaskFromCount(int socketCount);
  void clearFailureFlags(int socketCount);
  bool socketFailed(int socket) const { return socketFailureFlags[socket - 1] != 0; }
  bool socketSkipped(int socket) const;
  // Still to be sent commands in the running operation: neither failed nor left out.
  bool socketInPlay(int socket) const { return !socketFailed(socket) && !socketSkipped(socket); }

  // Shows the Vpp setting and sends it to an identified programmer.
  void VppStep();
  void ReadSetUp();
  void ProgramSetUp();
  void BlockAddressStep();
  // Reads one block of the current socket into the read buffer.
  void ReadBlock();
  // Marks the current socket failed with the result message.
  void FailureStep();

 private:
  void CommonSetUp();
  void latch(void (Link::*latchCommand)(), std::uint16_t value);

  SessionHost& host_;
  Link& link_;
  ImageBuffer& image_;
  DeviceSettings& settings_;
};

}  // namespace tandra
