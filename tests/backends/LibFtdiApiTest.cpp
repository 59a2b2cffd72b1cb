#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <vector>

#include "link/LibFtdiApi.h"

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
