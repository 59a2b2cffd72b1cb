// LibFtdiApi against a programmer replayed by umockdev from replay/*.ioctl, one recording per
// suite (see run-replay.sh). Opening requests and commands must match the recording byte for
// byte or the replay refuses them. String descriptors cannot be replayed this way, so serial
// numbers and descriptions are not tried here.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <libusb.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "link/LibFtdiApi.h"

namespace {
// Armed by a test: the next bulk-in transfer that brings data ends with a time-out, as libusb
// reports it when a transfer's time runs out after part of it came.
std::atomic<bool> timeOutNextDataTransfer{false};
}  // namespace

// libusb's bulk transfer as the program calls it, passed through to the real one.
extern "C" int libusb_bulk_transfer(libusb_device_handle* device, unsigned char endpoint,
                                    unsigned char* data, int length, int* transferred,
                                    unsigned int timeout) {
  using Real =
      int (*)(libusb_device_handle*, unsigned char, unsigned char*, int, int*, unsigned int);
  static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "libusb_bulk_transfer"));
  const int result = real(device, endpoint, data, length, transferred, timeout);
  const bool dataCame = (endpoint & 0x80) != 0 && transferred != nullptr && *transferred > 2;
  if (result == 0 && dataCame && timeOutNextDataTransfer.exchange(false)) {
    return LIBUSB_ERROR_TIMEOUT;
  }
  return result;
}

namespace tandra {
namespace {

using Bytes = std::vector<std::uint8_t>;

class Replay : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("UMOCKDEV_DIR") == nullptr) GTEST_SKIP() << "needs umockdev-run";
  }
  FtStatus open(FtHandle* out) {
    char first[] = "";
    return api.OpenEx(first, ft::OpenBySerialNumber, out);
  }
  std::uint32_t count() {
    std::uint32_t n = 99;
    EXPECT_EQ(api.ListDevices(&n, nullptr, ft::ListNumberOnly), ft::Ok);
    return n;
  }
  std::uint32_t queued() {
    std::uint32_t n = 99;
    EXPECT_EQ(api.GetQueueStatus(handle, &n), ft::Ok);
    return n;
  }
  void write(const Bytes& packet) {
    std::uint32_t n = 0;
    const auto size = static_cast<std::uint32_t>(packet.size());
    ASSERT_EQ(api.Write(handle, packet.data(), size, &n), ft::Ok);
    EXPECT_EQ(n, size);
  }

  // Discovery's identify, an idle command, a read block of socket 1 and a program page, with
  // their replies read as the link reads them: by count, whatever packets and transfers they
  // come in.
  void wholePath(const Bytes& identifyReply, std::uint32_t headerReplyLength);

  LibFtdiApi api;
  FtHandle handle = nullptr;
  Bytes reply = Bytes(264);
  std::uint32_t received = 0;
};
using Session = Replay;
using Silent = Replay;
using Refused = Replay;
using NoDevice = Replay;
using NoLatencyTimer = Replay;
using NoSerialNumber = Replay;
using HighSpeed = Replay;
using PacketCut = Replay;

Bytes counting(std::size_t size, int first, int step) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<std::uint8_t>(first + step * static_cast<int>(i));
  }
  return bytes;
}

TEST_F(Session, ExchangesCommandsAndReplies) {
  EXPECT_EQ(count(), 1u);
  ASSERT_EQ(open(&handle), ft::Ok);
  FtHandle again = nullptr;
  EXPECT_EQ(open(&again), ft::DeviceNotOpened);
  ASSERT_EQ(api.SetTimeouts(handle, 500, 0), ft::Ok);

  // The reply trickles in: the queue reports what came, a read takes it and waits for the rest.
  write({0x56, 0, 0, 0, 0, 0, 0, 0x56});
  EXPECT_EQ(queued(), 0u);
  EXPECT_EQ(queued(), 3u);
  ASSERT_EQ(api.Read(handle, reply.data(), 8, &received), ft::Ok);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + received),
            (Bytes{0x56, 0x03, 0x07, 0x11, 0x22, 0x33, 0x44, 0x55}));
  EXPECT_EQ(queued(), 0u);

  // Five packets in one transfer arrive without the chip's status bytes, and all of them are
  // kept although the transfer ended in a time-out.
  timeOutNextDataTransfer = true;
  write(counting(264, 0, 1));
  ASSERT_EQ(api.Read(handle, reply.data(), 264, &received), ft::Ok);
  EXPECT_FALSE(timeOutNextDataTransfer);
  EXPECT_EQ(received, 264u);
  EXPECT_EQ(reply, counting(264, 0xFF, -1));

  write(counting(74, 0x80, 1));
  EXPECT_EQ(api.Read(handle, reply.data(), 8, &received), ft::IoError);

  EXPECT_EQ(api.Close(handle), ft::Ok);
  EXPECT_EQ(api.Close(handle), ft::InvalidHandle);
  ASSERT_EQ(open(&handle), ft::Ok);  // closing let it go
  EXPECT_EQ(api.Close(handle), ft::Ok);
}

TEST_F(Silent, ReadReturnsWhenTheReadTimeOutRunsOut) {
  ASSERT_EQ(open(&handle), ft::Ok);
  ASSERT_EQ(api.SetTimeouts(handle, 100, 0), ft::Ok);
  write({0x56, 0, 0, 0, 0, 0, 0, 0x56});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(api.Read(handle, reply.data(), 8, &received), ft::Ok);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(received, 0u);
  // The deadline is kept in whole milliseconds, so it may end up to one short.
  EXPECT_GE(waited, std::chrono::milliseconds(99));
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
}

TEST_F(Refused, FailedOpenLeavesNoHandle) {
  EXPECT_EQ(count(), 1u);
  handle = &handle;
  EXPECT_EQ(open(&handle), ft::DeviceNotOpened);
  EXPECT_EQ(handle, nullptr);
}

TEST_F(NoDevice, NothingToListOrOpen) {
  EXPECT_EQ(count(), 0u);
  char text[ft::ListStringCapacity] = "stale";
  EXPECT_EQ(api.ListDevices(nullptr, text, ft::ListByIndex | ft::OpenByDescription),
            ft::DeviceNotFound);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(open(&handle), ft::DeviceNotFound);
}

TEST_F(NoLatencyTimer, OpensAllTheSameAndSaysSo) {
  ASSERT_EQ(open(&handle), ft::Ok);
  EXPECT_EQ(api.takeNotes(),
            std::vector<std::string>{
                "The USB chip has no latency timer to set: replies will come more slowly."});
  EXPECT_TRUE(api.takeNotes().empty());  // told once
  ASSERT_EQ(api.SetTimeouts(handle, 500, 0), ft::Ok);
  write({0x56, 0, 0, 0, 0, 0, 0, 0x56});
  ASSERT_EQ(api.Read(handle, reply.data(), 8, &received), ft::Ok);
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 8), (Bytes{0x56, 1, 0x14, 0, 0, 0, 0, 0}));
}

TEST_F(NoSerialNumber, ItsSerialNumberIsAnEmptyText) {
  char text[ft::ListStringCapacity] = "stale";
  EXPECT_EQ(api.ListDevices(nullptr, text, ft::ListByIndex | ft::OpenBySerialNumber), ft::Ok);
  EXPECT_STREQ(text, "");
}

// The packets of the programmer's protocol, as the link builds them.
Bytes command(std::uint8_t op, const Bytes& rest = Bytes(6)) {
  Bytes packet(rest.size() + 1);
  packet[0] = op;
  std::copy(rest.begin(), rest.end(), packet.begin() + 1);
  unsigned sum = 0;
  for (std::uint8_t byte : packet) sum += byte;
  packet.push_back(static_cast<std::uint8_t>(sum));
  return packet;
}
Bytes header(std::uint8_t op, std::uint8_t b1 = 0, std::uint8_t b2 = 0) {
  Bytes reply = {op, b1, b2, 0, 0, 0, 0, 0};
  reply[7] = static_cast<std::uint8_t>(op + b1 + b2);
  return reply;
}

void Replay::wholePath(const Bytes& identifyReply, std::uint32_t headerReplyLength) {
  ASSERT_EQ(open(&handle), ft::Ok);
  ASSERT_EQ(api.SetTimeouts(handle, 500, 5000), ft::Ok);
  Bytes buffer(4096);
  std::uint32_t got = 0;
  const auto exchange = [&](const Bytes& sent, std::uint32_t length) {
    write(sent);
    EXPECT_EQ(api.Read(handle, buffer.data(), length, &got), ft::Ok);
    EXPECT_EQ(got, length);
    return Bytes(buffer.begin(), buffer.begin() + got);
  };
  EXPECT_EQ(exchange(command(0x56), headerReplyLength), identifyReply);
  const Bytes idle = exchange(command(0x24), headerReplyLength);
  EXPECT_EQ(Bytes(idle.begin(), idle.begin() + 8), header(0x24));
  const Bytes block = exchange(command(0x20, {0x00, 0x00, 0xED, 0xBE, 0x08, 0x00}), 2056);
  EXPECT_EQ(Bytes(block.begin(), block.begin() + 8), header(0x20));
  for (std::size_t i = 0; i < 2048; ++i) {
    ASSERT_EQ(block[8 + i], static_cast<std::uint8_t>(i * 13 + 5)) << i;
  }
  Bytes page = command(0x43, {4, 1, 5, 0, 0xED, 0xBE});
  for (int i = 0; i < 256; ++i) page.push_back(static_cast<std::uint8_t>(i * 7 + 3));
  EXPECT_EQ(exchange(page, 8), header(0x43));
  EXPECT_EQ(queued(), 0u);
  EXPECT_EQ(api.Close(handle), ft::Ok);
}

TEST_F(HighSpeed, RepliesSpanningSeveralFiveHundredTwelveBytePacketsArriveWhole) {
  // The chip as the driver found it: a high-speed FT232H with 512-byte packets.
  ASSERT_EQ(count(), 1u);
  Bytes identify = header(0x56, 1, 20);
  identify.resize(2056, 0x00);
  wholePath(identify, 2056);
  bool highSpeed = false;
  for (const DriverFact& fact : api.facts()) {
    highSpeed = highSpeed || (fact.key == "max-packet-size" && fact.value == "512");
  }
  EXPECT_TRUE(highSpeed);
}

TEST_F(PacketCut, AReplyCutWhereAPacketEndsIsPutTogetherAcrossTransfers) {
  wholePath(header(0x56, 1, 20), 8);
}

}  // namespace
}  // namespace tandra
