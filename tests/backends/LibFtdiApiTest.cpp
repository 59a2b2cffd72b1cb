#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <vector>

#include "link/LibFtdiApi.h"
#if defined(TANDRA_HAVE_LIBFTDI)
#include <libusb.h>
#endif

namespace tandra {
namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

// Answers each poll with the next scripted answer (empty: nothing came), taking `latency` of
// clock time as a real chip does; once the script is used up it stays silent, or fails.
struct ScriptedChip {
  ManualClock clock;
  std::deque<Bytes> answers;
  milliseconds latency{2};
  bool failAfterScript = false;
  int polls = 0;

  ReceiveQueue::Fetch fetch() {
    return [this](Bytes& into) {
      ++polls;
      clock.advance(latency);
      if (answers.empty()) return !failAfterScript;
      into.insert(into.end(), answers.front().begin(), answers.front().end());
      answers.pop_front();
      return true;
    };
  }
};

TEST(ReceiveQueue, HandsBytesOverInOrderAndPollsOnlyForWhatIsMissing) {
  ScriptedChip chip;
  chip.answers = {{1, 2, 3}, {}, {4, 5, 6, 7, 8, 9, 10}};
  ReceiveQueue queue;
  ASSERT_EQ(queue.poll(chip.fetch()), ft::Ok);
  EXPECT_EQ(queue.size(), 3u);

  Bytes out(8);
  std::uint32_t n = 0;
  ASSERT_EQ(queue.read(out.data(), 8, &n, 500, chip.clock, chip.fetch()), ft::Ok);
  EXPECT_EQ(n, 8u);
  EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(chip.polls, 3);

  // The surplus stays queued and comes next, without another poll.
  ASSERT_EQ(queue.read(out.data(), 2, &n, 500, chip.clock, chip.fetch()), ft::Ok);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + n), (Bytes{9, 10}));
  EXPECT_EQ(chip.polls, 3);
  EXPECT_EQ(queue.size(), 0u);
}

TEST(ReceiveQueue, ReadTimeOutBoundsTheWaitAndZeroMeansNone) {
  ScriptedChip chip;
  chip.answers = {{1, 2}};
  ReceiveQueue queue;
  Bytes out(8);
  std::uint32_t n = 0;
  ASSERT_EQ(queue.read(out.data(), 8, &n, 500, chip.clock, chip.fetch()), ft::Ok);
  EXPECT_EQ(n, 2u);
  EXPECT_GE(chip.clock.now(), milliseconds(500));
  EXPECT_LE(chip.clock.now(), milliseconds(500) + chip.latency + ReceiveQueue::kIdlePause);

  // A chip that answers empty polls at once still gets a pause between them.
  ScriptedChip instant;
  instant.latency = milliseconds(0);
  ASSERT_EQ(queue.read(out.data(), 8, &n, 100, instant.clock, instant.fetch()), ft::Ok);
  EXPECT_LE(instant.polls, 101);

  ScriptedChip slow;
  slow.answers.assign(2000, Bytes{});
  slow.answers.push_back({1, 2, 3, 4});
  ASSERT_EQ(queue.read(out.data(), 4, &n, 0, slow.clock, slow.fetch()), ft::Ok);
  EXPECT_EQ(n, 4u);
}

TEST(ReceiveQueue, FailedTransferIsAnIoErrorAfterHandingOverWhatCame) {
  ScriptedChip chip;
  chip.answers = {{1, 2, 3}};
  chip.failAfterScript = true;
  ReceiveQueue queue;
  Bytes out(8);
  std::uint32_t n = 0;
  EXPECT_EQ(queue.read(out.data(), 8, &n, 500, chip.clock, chip.fetch()), ft::IoError);
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(queue.poll(chip.fetch()), ft::IoError);
}

#if defined(TANDRA_HAVE_LIBFTDI)
// What the chip sends: each packet of `packetSize` bytes starts with the status bytes 31 60.
Bytes packets(const Bytes& payload, std::size_t packetSize) {
  Bytes wire;
  for (std::size_t at = 0; at < payload.size(); at += packetSize - 2) {
    wire.insert(wire.end(), {0x31, 0x60});
    const std::size_t end = std::min(payload.size(), at + packetSize - 2);
    wire.insert(wire.end(), payload.begin() + static_cast<std::ptrdiff_t>(at),
                payload.begin() + static_cast<std::ptrdiff_t>(end));
  }
  return wire;
}

Bytes counting(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  return bytes;
}

// A bulk-in endpoint that hands out scripted transfers: (bytes on the wire, libusb's result).
BulkTransfer scriptedTransfers(std::deque<std::pair<Bytes, int>>& script) {
  return [&script](unsigned char* buffer, int size, int* actual) {
    if (script.empty()) {
      *actual = 0;
      return kTransferTimedOut;
    }
    auto [wire, result] = script.front();
    script.pop_front();
    *actual = std::min(size, static_cast<int>(wire.size()));
    std::copy(wire.begin(), wire.begin() + *actual, buffer);
    return result;
  };
}

TEST(LibFtdiTransfer, EveryByteThatCameIsKeptWithoutTheStatusBytes) {
  const struct {
    const char* what;
    std::size_t payload;
    std::size_t packetSize;
    int result;
    bool ok;
  } cases[] = {
      {"33 full packets ending in a time-out", 33 * 62, 64, kTransferTimedOut, true},
      {"a short packet last", 2 * 62 + 9, 64, 0, true},
      {"status bytes alone: nothing came", 0, 64, 0, true},
      {"high-speed packets", 3 * 510 + 1, 512, kTransferTimedOut, true},
      {"a transfer that failed keeps what came", 62 + 5, 64, -1, false},
  };
  for (const auto& c : cases) {
    const Bytes payload = counting(c.payload);
    Bytes wire = packets(payload, c.packetSize);
    if (wire.empty()) wire = {0x31, 0x60};
    std::deque<std::pair<Bytes, int>> script = {{wire, c.result}};
    Bytes into = {0xAA};
    EXPECT_EQ(fetchFromTransfer(scriptedTransfers(script), 4096, c.packetSize, into), c.ok)
        << c.what;
    Bytes expected = {0xAA};
    expected.insert(expected.end(), payload.begin(), payload.end());
    EXPECT_EQ(into, expected) << c.what;
  }
}

TEST(LibFtdiTransfer, AReadBlockReplyThatTricklesInArrivesWhole) {
  // 2,056 bytes at about 35 kB/s: the first transfer fills 33 packets and then times out.
  const Bytes reply = counting(2056);
  const Bytes wire = packets(reply, 64);
  std::deque<std::pair<Bytes, int>> script = {
      {Bytes(wire.begin(), wire.begin() + 33 * 64), kTransferTimedOut},
      {Bytes(wire.begin() + 33 * 64, wire.end()), 0}};
  const BulkTransfer transfer = scriptedTransfers(script);
  ManualClock clock;
  ReceiveQueue queue;
  const ReceiveQueue::Fetch fetch = [&](Bytes& into) {
    return fetchFromTransfer(transfer, 4096, 64, into);
  };
  ASSERT_EQ(queue.poll(fetch), ft::Ok);
  EXPECT_EQ(queue.size(), 33u * 62u);
  Bytes out(2056);
  std::uint32_t n = 0;
  ASSERT_EQ(queue.read(out.data(), 2056, &n, 500, clock, fetch), ft::Ok);
  EXPECT_EQ(n, 2056u);
  EXPECT_EQ(out, reply);
}

TEST(LibFtdiApi, AChipThatCannotBeOpenedIsExplainedWithTheFix) {
  // libftdi 1.5 fails libusb_open as -4 whatever the cause: libusb's own result tells.
  EXPECT_STREQ(openFailureNote(-4, LIBUSB_ERROR_ACCESS), opennote::kNoPermission);
  EXPECT_STREQ(openFailureNote(-4, LIBUSB_ERROR_BUSY), opennote::kInUse);
  EXPECT_EQ(openFailureNote(-4, LIBUSB_ERROR_NO_DEVICE), nullptr);
  EXPECT_STREQ(openFailureNote(-5), opennote::kInUse);  // the interface is claimed
  // -8: the kernel's serial driver could not be detached for want of permission.
  EXPECT_STREQ(openFailureNote(-8), opennote::kSerialDriverRefused);
  EXPECT_NE(std::string(opennote::kNoPermission).find("60-tandra-usb.rules"), std::string::npos);
}

TEST(LibFtdiApi, RefusesForeignHandlesAndBadRequestsWithoutADevice) {
  LibFtdiApi api;
  int foreign = 0;  // never to be followed: AddressSanitizer would flag a read through it
  std::uint8_t buffer[8] = {};
  std::uint32_t n = 0;
  for (FtHandle handle : {FtHandle{nullptr}, FtHandle{&foreign}}) {
    EXPECT_EQ(api.SetTimeouts(handle, 500, 0), ft::InvalidHandle);
    EXPECT_EQ(api.GetQueueStatus(handle, &n), ft::InvalidHandle);
    EXPECT_EQ(api.Write(handle, buffer, 8, &n), ft::InvalidHandle);
    EXPECT_EQ(api.Read(handle, buffer, 8, &n), ft::InvalidHandle);
    EXPECT_EQ(api.Close(handle), ft::InvalidHandle);
  }
  char text[ft::ListStringCapacity] = "x";
  EXPECT_EQ(api.ListDevices(nullptr, text, ft::ListByIndex), ft::InvalidParameter);
  FtHandle handle = &foreign;
  constexpr std::uint32_t kOpenByLocation = 4;
  EXPECT_EQ(api.OpenEx(text, kOpenByLocation, &handle), ft::InvalidParameter);
  EXPECT_EQ(handle, nullptr);
}
#endif

}  // namespace
}  // namespace tandra
