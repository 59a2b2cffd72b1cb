// The virtual programmer as a judge of the host: a recorded good run replays cleanly, and each
// kind of mistake a host could make in it is named.
#include <functional>

#include "WorkbenchFixture.h"

namespace tandra::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class ProgrammerChecksTest : public WorkbenchFixture {
 protected:
  // The packets of a Program and a Verify of a 27C64 on two sockets, as the engine sends them.
  std::vector<Bytes> recordedRun() {
    startUp();
    choose("27C64", 2);
    for (std::int32_t a = 0; a < 0x2000; ++a)
      bench.session.image()[a] = static_cast<std::uint8_t>(a * 3);
    programmer.clearPackets();
    bench.Program_EpromClick();
    bench.Verify_EpromClick();
    return programmer.packets();
  }

  // What a fresh programmer says of the packets.
  static std::vector<std::string> replay(const std::vector<Bytes>& packets) {
    VirtualProgrammer judge;
    FtHandle handle = nullptr;
    char any[] = "";
    EXPECT_EQ(judge.OpenEx(any, ft::OpenBySerialNumber, &handle), ft::Ok);
    for (const Bytes& p : packets) {
      std::uint32_t written = 0;
      judge.Write(handle, p.data(), static_cast<std::uint32_t>(p.size()), &written);
    }
    return judge.violations();
  }

  static bool names(const std::vector<std::string>& violations, std::string_view what) {
    for (const std::string& line : violations) {
      if (line.find(what) != std::string::npos) return true;
    }
    ADD_FAILURE() << "no violation names \"" << what << "\"; " << violations.size() << " found";
    return false;
  }
};

TEST_F(ProgrammerChecksTest, EveryKindOfHostMistakeIsNamed) {
  const std::vector<Bytes> good = recordedRun();
  ASSERT_EQ(replay(good), std::vector<std::string>{});

  // One change to the first packet that matches, then the checksum made right again (but for
  // the checksum case itself).
  struct Mistake {
    const char* expected;  // part of the violation's text
    std::function<bool(const Bytes&)> matches;
    std::function<void(Bytes&)> spoil;
    bool fixChecksum = true;
  };
  const auto opcodeIs = [](std::uint8_t op) { return [op](const Bytes& p) { return p[0] == op; }; };
  const auto latchOf = [](std::uint8_t selector) {
    return [selector](const Bytes& p) { return p[0] == 0x94 && p[1] == selector; };
  };
  const std::vector<Mistake> mistakes = {
      {"checksum", opcodeIs(0x20), [](Bytes& p) { p[7] ^= 1; }, false},
      {"names no latch", latchOf(0x0F), [](Bytes& p) { p[1] = 0x1F; }},
      {"fit no socket wiring", opcodeIs(0x92), [](Bytes& p) { p[3] = 0x40; }},
      {"power byte", opcodeIs(0x92), [](Bytes& p) { p[5] ^= 0x04; }},
      {"neither a read nor a program", opcodeIs(0x92), [](Bytes& p) { p[4] = 0xEE; }},
      {"holds fixed", latchOf(0x0F), [](Bytes& p) { p[2] &= 0x7F; }},
      {"control latch", latchOf(0x3F), [](Bytes& p) { p[2] ^= 0x02; }},
      {"differs from the high latch", opcodeIs(0x20), [](Bytes& p) { p[2] ^= 0x01; }},
      {"algorithm code", opcodeIs(0x43), [](Bytes& p) { p[1] = 4; }},
      {"algorithm flag", opcodeIs(0x43), [](Bytes& p) { p[2] = 0x00; }},
      {"enables no single socket", opcodeIs(0x20), [](Bytes& p) { p[4] = 0xBC; }},
      {"no programming voltage", opcodeIs(0x90), [](Bytes& p) { p[1] = 0x2F; }},
      {"not 264", opcodeIs(0x43), [](Bytes& p) { p.resize(200); }},
      {"unknown command", opcodeIs(0x24), [](Bytes& p) { p[0] = 0x25; }},
  };
  for (const Mistake& mistake : mistakes) {
    std::vector<Bytes> packets = good;
    const auto it = std::find_if(packets.begin(), packets.end(), mistake.matches);
    ASSERT_NE(it, packets.end()) << mistake.expected;
    mistake.spoil(*it);
    if (mistake.fixChecksum) (*it)[7] = headerChecksum(it->data());
    EXPECT_TRUE(names(replay(packets), mistake.expected)) << mistake.expected;
  }

  // Left-out commands: the set-up, and the latch value the 28-pin socket needs before it.
  const auto without = [&](const std::function<bool(const Bytes&)>& leftOut) {
    std::vector<Bytes> packets = good;
    packets.erase(std::find_if(packets.begin(), packets.end(), leftOut));
    return replay(packets);
  };
  EXPECT_TRUE(names(without(opcodeIs(0x92)), "without a program set-up"));
  const auto parking = [](const Bytes& p) { return p[0] == 0x94 && p[1] == 0x2F && p[2] == 0xFF; };
  EXPECT_TRUE(names(without(parking), "low-latch values"));
}

}  // namespace
}  // namespace tandra::test
