#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "common/TimeText.h"
#include "image/Checksum.h"
#include "image/ImageBuffer.h"
#include "image/LineEntry.h"

namespace tandra::test {
namespace {

ImageBuffer deviceOf(std::int32_t endAddress, std::uint8_t fill) {
  ImageBuffer image;
  fillBuffer(image, fill);
  image.deviceEndAddress = endAddress;
  return image;
}

TEST(BufferChecksum, SumsTheWholeAddressWindowInSixteenBits) {
  EXPECT_EQ(bufferChecksum(ImageBuffer{}), 0x0000);  // before any device: byte 0 alone
  EXPECT_EQ(bufferChecksum(deviceOf(0x7FF, 0xFF)), 0xF800);
  EXPECT_EQ(bufferChecksum(deviceOf(0xFFFF, 0xFF)), 0x0000);
  // 256K of 0x01 sums to 0x40000, which wraps to 0; one more at the last address shows.
  ImageBuffer whole = deviceOf(0x3FFFF, 0x01);
  EXPECT_EQ(bufferChecksum(whole), 0x0000);
  whole[0x3FFFF] = 0x02;
  EXPECT_EQ(bufferChecksum(whole), 0x0001);
}

TEST(BufferChecksum, BytesAbove64KCountForLargeDevices) {
  ImageBuffer image = deviceOf(0x1FFFF, 0x00);
  image[0x10000] = 0x5A;
  EXPECT_EQ(bufferChecksum(image), 0x005A);
  image[0x20000] = 0x11;  // outside a 128K device
  EXPECT_EQ(bufferChecksum(image), 0x005A);
}

TEST(Fill, CoversEveryByteOfTheBuffer) {
  ImageBuffer image;
  fillBuffer(image, 0xA5);
  EXPECT_EQ(image[0], 0xA5);
  EXPECT_EQ(image[0x1FFFF], 0xA5);
  EXPECT_EQ(image[ImageBuffer::kSize - 1], 0xA5);
}

constexpr std::string_view kHex = "1234567890ABCDEFabcdef";

std::string typed(std::string_view keys, LineEntry entry = LineEntry{2, kHex}) {
  for (char key : keys) entry.type(key);
  return entry.text();
}

TEST(LineEntry, AcceptedKeysAppendInUpperCaseUpToTheLength) {
  EXPECT_EQ(typed("7"), "7");
  EXPECT_EQ(typed("af"), "AF");
  EXPECT_EQ(typed("ABC"), "AB");
}

TEST(LineEntry, RejectedKeyThatChangesTheTextEmptiesTheEntry) {
  EXPECT_EQ(typed("AG"), "");
  EXPECT_EQ(typed("AG7"), "7");
  EXPECT_EQ(typed("A\b"), "");  // Backspace empties instead of deleting one character
  EXPECT_EQ(typed("AB\b"), "");
}

TEST(LineEntry, RejectedKeyThatLeavesTheTextEmptiesItAtTheNextChange) {
  LineEntry entry{2, kHex};
  entry.type('A');
  entry.type(LineEntry::kEscape);
  EXPECT_EQ(entry.text(), "A");
  EXPECT_TRUE(entry.clearMark());
  entry.type('5');  // the digit is lost with the rest
  EXPECT_EQ(entry.text(), "");
  EXPECT_FALSE(entry.clearMark());
}

TEST(LineEntry, ASelectedTextIsReplacedByTheNextTypedKey) {
  const struct {
    const char* keys;
    const char* after;
  } cases[] = {{"1", "1"},
               {"12", "12"},
               {"\b", ""},
               {"X", ""},
               {"\x1B"
                "7",
                ""}};
  for (const auto& c : cases) {
    LineEntry entry{3, "1234567890", "5"};
    entry.selectAll();
    for (const char* key = c.keys; *key != '\0'; ++key) entry.type(*key);
    EXPECT_EQ(entry.text(), c.after) << c.keys;
    EXPECT_FALSE(entry.selected() && *c.keys != '\x1B') << c.keys;
  }
  LineEntry empty{3, "1234567890", ""};
  empty.selectAll();
  EXPECT_FALSE(empty.selected());
}

TEST(LineEntry, ProgramSetTextRunsTheChangeHandlerToo) {
  LineEntry entry{3, "1234567890", "40"};
  entry.type(LineEntry::kEscape);
  entry.setText("40");  // no change, nothing happens
  EXPECT_EQ(entry.text(), "40");
  entry.setText("5");
  EXPECT_EQ(entry.text(), "");
}

}  // namespace
// Every program says how long work took in the one form: tenths under a minute, minutes and
// two-digit seconds from a minute on.
TEST(DurationText, TenthsUnderAMinuteThenMinutesAndSeconds) {
  const struct {
    std::int64_t ms;
    const char* text;
  } cases[] = {{-5, "0.0 s"},           {0, "0.0 s"},          {349, "0.3 s"},
               {59999, "59.9 s"},       {60000, "1 min 00 s"}, {125400, "2 min 05 s"},
               {3600000, "60 min 00 s"}};
  for (const auto& c : cases) EXPECT_EQ(durationText(c.ms), c.text) << c.ms;
}

// The local time zone, as the C library reads it from TZ, for as long as it lives.
class LocalZone {
 public:
  explicit LocalZone(const std::string& zone) {
    if (const char* now = std::getenv("TZ")) before_ = now;
    set(zone);
  }
  ~LocalZone() { set(before_.value_or("")); }
  LocalZone(const LocalZone&) = delete;
  LocalZone& operator=(const LocalZone&) = delete;

 private:
  static void set(const std::string& zone) {
#if defined(_WIN32)
    _putenv(("TZ=" + zone).c_str());
    _tzset();
#else
    if (zone.empty()) {
      unsetenv("TZ");
    } else {
      setenv("TZ", zone.c_str(), 1);
    }
    tzset();
#endif
  }
  std::optional<std::string> before_;
};

// The record, the log, the ledger and the trace write a moment as its local time and that
// time's offset from UTC, whatever the zone and on every system.
TEST(IsoTime, LocalTimeWithItsOffsetFromUtcInEveryZone) {
  using namespace std::chrono;
  const system_clock::time_point moment =
      sys_days{year{2026} / 12 / 9} + hours{20} + minutes{0} + seconds{9};
  const struct {
    const char* zone;  // as TZ gives it: the name, then the hours to add to reach UTC
    const char* text;
  } cases[] = {
      {"UTC0", "2026-12-09T20:00:09+00:00"},     {"CET-1", "2026-12-09T21:00:09+01:00"},
      {"IST-5:30", "2026-12-10T01:30:09+05:30"}, {"NST3:30", "2026-12-09T16:30:09-03:30"},
      {"HST10", "2026-12-09T10:00:09-10:00"},
  };
  for (const auto& c : cases) {
    const LocalZone zone(c.zone);
    EXPECT_EQ(isoTime(moment), c.text) << c.zone;
  }
}

}  // namespace tandra::test
