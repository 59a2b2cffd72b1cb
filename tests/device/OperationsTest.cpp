#include "common/HexText.h"

#include "OperationsFixture.h"

namespace tandra::test {
namespace {

class OperationsTest : public OperationsFixture {};

// Every type of the list, one added a moment ago too, in chips the virtual programmer makes from
// its own record of the type; the socket count steps through 1 to 5 from one type to the next.
TEST_F(OperationsTest, ProgramThenVerifyOnEveryTypeAndSocketCount) {
  for (std::size_t index = 0; index < chips().size(); ++index) {
    const Chip& type = chips()[index];
    const int sockets = 1 + static_cast<int>(index % 5);
    SCOPED_TRACE(std::string(type.name) + " in " + std::to_string(sockets) + " sockets");
    for (int s = 1; s <= 5; ++s) programmer.insertChip(s, type.name);
    fillRandom(static_cast<unsigned>(index));
    choose(type.name, sockets);
    ASSERT_EQ(bench.session.image().deviceEndAddress, type.size - 1);
    bench.Program_EpromClick();
    EXPECT_EQ(status(), "Programming Done....");
    for (int s = 1; s <= 5; ++s) EXPECT_EQ(chipHoldsTheBuffer(s), s <= sockets) << "socket " << s;
    EXPECT_EQ(label(sockets), std::to_string(sockets) + "-Programmed OK ");

    bench.Verify_EpromClick();
    EXPECT_EQ(status(), "Verify Test Done....");
    EXPECT_EQ(label(1), "1- Verified OK   ");
    EXPECT_EQ(label(sockets), std::to_string(sockets) + "- Verified OK   ");

    bench.Prg_CompareClick();
    EXPECT_EQ(status(), "Program Compare Test Done....");
    EXPECT_EQ(label(1), "1-Can Be Programed");
  }
  // Programming leaves the link as it found it: commands of 8 bytes, blocks of 2048 read whole.
  programmer.clearPackets();
  bench.Verify_EpromClick();
  EXPECT_EQ(label(1), "1- Verified OK   ");
  for (const Bytes& sent : programmer.packets()) EXPECT_EQ(sent.size(), 8u);
}

TEST_F(OperationsTest, ProgramCompareFailsWhereABitWouldHaveToRise) {
  fillRandom(1);
  bench.session.image()[0x4321] = 0x00;
  choose("27C256", 2);
  bench.Program_EpromClick();
  bench.session.image()[0x4321] = 0x01;
  bench.session.image()[0x0100] =
      static_cast<std::uint8_t>(bench.session.image()[0x0100] & 0x7E);  // only clears
  bench.Prg_CompareClick();
  EXPECT_EQ(label(1), "1-Can`t Be Programed");
  EXPECT_EQ(label(2), "2-Can`t Be Programed");

  // The last byte of a block is judged as any other: a 1 that would have to rise there.
  for (const std::int32_t address : {0x07FF, 0x0FFF, 0x7FFF}) {
    SCOPED_TRACE(address);
    bench.Program_EpromClick();
    bench.session.image()[address] =
        static_cast<std::uint8_t>(programmer.chip(2).cells()[address] | 0x01);
    programmer.chip(2).cells()[address] &= 0xFE;
    bench.Prg_CompareClick();
    EXPECT_EQ(label(2), "2-Can`t Be Programed");
    ASSERT_TRUE(bench.session.lastResult().sockets[1].failure);
    EXPECT_EQ(bench.session.lastResult().sockets[1].failure->address, address);
    programmer.chip(2).erase();
  }
}

TEST_F(OperationsTest, VerifyWantsEqualBytesProgramCompareOnlyBitsThatCanStillBeCleared) {
  fillRandom(11);
  choose("27C256", 3);
  bench.Program_EpromClick();
  // Socket 1 still holds a 1 where the buffer now wants a 0: programmable, but not the same.
  programmer.chip(1).cells()[0x1234] = 0x3F;
  bench.session.image()[0x1234] = 0x0F;
  for (int s : {2, 3}) programmer.chip(s).cells()[0x1234] = 0x0F;
  // Socket 3 lacks a 1 the buffer wants at another address: neither.
  programmer.chip(3).cells()[0x5000] = 0x0F;
  bench.session.image()[0x5000] = 0x10;
  for (int s : {1, 2}) programmer.chip(s).cells()[0x5000] = 0x10;

  bench.Verify_EpromClick();
  EXPECT_EQ(label(1), "1-Didn't Verify");
  EXPECT_EQ(label(2), "2- Verified OK   ");
  EXPECT_EQ(label(3), "3-Didn't Verify");
  bench.Prg_CompareClick();
  EXPECT_EQ(label(1), "1-Can Be Programed");
  EXPECT_EQ(label(2), "2-Can Be Programed");
  EXPECT_EQ(label(3), "3-Can`t Be Programed");
}

TEST_F(OperationsTest, AChipTakesAPulseOnlyAsItsOwnTypeAndVoltage) {
  fillRandom(12);
  choose("27C256", 3);
  programmer.insertChip(1, "27C256");
  programmer.insertChip(2, "27C512");  // another algorithm
  programmer.insertChip(3, "27256");   // same wiring, algorithm and voltage
  bench.Program_EpromClick();
  EXPECT_EQ(label(1), "1-Programmed OK ");
  EXPECT_EQ(label(2), "2-Not Programmed");
  EXPECT_EQ(label(3), "3-Programmed OK ");
  EXPECT_EQ(programmer.chip(2).read(0), 0xFF);  // untouched
  EXPECT_TRUE(chipHoldsTheBuffer(3));

  // A 2716 wants 25 V: at 12.5 V it stays blank, and a 27C16 at 25 V takes nothing either.
  choose("2716", 2);
  programmer.insertChip(1, "2716");
  programmer.insertChip(2, "27C16");
  bench.selection.Vpp_ButClick();
  bench.selection.Vpp_ButClick();  // 25 -> 21 -> 12.5
  bench.Program_EpromClick();
  EXPECT_EQ(label(1), "1-Not Programmed");
  EXPECT_EQ(label(2), "2-Programmed OK ");
  bench.selection.Vpp_ButClick();  // back to 25
  bench.Program_EpromClick();
  EXPECT_EQ(label(1), "1-Programmed OK ");
  EXPECT_EQ(label(2), "2-Not Programmed");

  // A 1 Mbit chip chosen as 2 Mbit: the upper half lands on the lower one and fails read-back.
  choose("27C2001", 1);
  programmer.insertChip(1, "27C010");
  bench.Program_EpromClick();
  EXPECT_EQ(label(1), "1-Not Programmed");
  EXPECT_EQ(host.caption(Control::Quit_Func_But), "&Quit = 20100");
}

TEST_F(OperationsTest, BlankCheckTellsErasedChipsFromUsedOnes) {
  choose("27C512", 4);
  programmer.chip(3).cells()[0xFFFF] = 0x7F;
  programmer.chip(4).cells()[0x1234] = 0xFE;  // one cleared bit is a used chip too
  bench.Blank_ChkClick();
  EXPECT_EQ(label(1), "1- Is Blank      ");
  EXPECT_EQ(label(2), "2- Is Blank      ");
  EXPECT_EQ(label(3), "3-Is Not Blank");
  EXPECT_EQ(label(4), "4-Is Not Blank");
  EXPECT_EQ(status(), "Blank Test Done....");
  EXPECT_EQ(host.caption(Control::Quit_Func_But), "&Quit = 10000");
  EXPECT_FALSE(host.isVisible(Control::StaticText2));
}

TEST_F(OperationsTest, VerifyMarksOnlyTheDifferingSocketAndStopsReadingIt) {
  fillRandom(2);
  choose("27C256", 3);
  bench.Program_EpromClick();
  programmer.chip(2).cells()[0x0800 + 17] &= 0x00;  // the second block
  bench.session.image()[0x0800 + 17] = 0xFF;
  for (int s : {1, 3}) programmer.chip(s).cells()[0x0800 + 17] = 0xFF;
  programmer.clearPackets();
  bench.Verify_EpromClick();
  EXPECT_EQ(label(1), "1- Verified OK   ");
  EXPECT_EQ(label(2), "2-Didn't Verify");
  EXPECT_EQ(label(3), "3- Verified OK   ");
  EXPECT_EQ(readsOf(0xBD), 2);   // blocks 1 and 2 only
  EXPECT_EQ(readsOf(0xBE), 16);  // every block of 32K
}

TEST_F(OperationsTest, ASocketThatRefusesAPageIsNeverSentAnother) {
  fillRandom(3);
  bench.session.image()[0] = 0x00;
  choose("27C64", 2);
  programmer.chip(1).setStuckBit(0, 3, true);
  programmer.clearPackets();
  bench.Program_EpromClick();
  EXPECT_EQ(label(1), "1-Not Programmed");
  EXPECT_EQ(label(2), "2-Programmed OK ");
  EXPECT_EQ(programsOf(0xBE), 1);
  EXPECT_EQ(programsOf(0xBD), 32);  // 8K in 256-byte pages
  EXPECT_TRUE(chipHoldsTheBuffer(2));
  EXPECT_EQ(status(), "Programming Done....");
}

TEST_F(OperationsTest, ProgramStopsAfterThePageWhereEverySocketFailed) {
  fillRandom(4);
  choose("27C256", 2);
  programmer.removeChip(1);
  programmer.chip(2).setStuckBit(5, 0, false);
  bench.session.image()[5] = 0x01;
  programmer.clearPackets();
  bench.Program_EpromClick();
  EXPECT_EQ(label(1), "1-Not Programmed");
  EXPECT_EQ(label(2), "2-Not Programmed");
  EXPECT_EQ(programsOf(0xBE) + programsOf(0xBD), 2);
  EXPECT_EQ(status(), "Programming Done....");
  EXPECT_EQ(host.caption(Control::Quit_Func_But), "&Quit = 0100");
}

TEST_F(OperationsTest, ProgramSendsThePulseWidthAndAlgorithmOfTheDevice) {
  choose("27C512", 1);
  bench.selection.PulseClick();
  bench.selection.P_EditKeyPress('\b');
  bench.selection.P_EditKeyPress('7');  // left without Enter: Program applies it
  bench.Program_EpromClick();
  EXPECT_EQ(programmer.pulseWidth(), 7);
  EXPECT_EQ(programmer.algorithmCode(), 2);
  EXPECT_EQ(host.caption(Control::Pulse), "Pulse = 7");

  bench.selection.PulseClick();
  bench.selection.P_EditKeyPress('\b');  // an empty entry becomes 20
  bench.Program_EpromClick();
  EXPECT_EQ(programmer.pulseWidth(), 20);
  EXPECT_EQ(host.caption(Control::Pulse), "Pulse = 20");

  bench.selection.P_EditKeyPress('\b');
  for (char c : std::string("300")) bench.selection.P_EditKeyPress(c);
  programmer.clearPackets();
  bench.Program_EpromClick();  // refused before anything is sent
  EXPECT_TRUE(programmer.packets().empty());
  EXPECT_EQ(host.boxTexts().back(), "Pulse Width Must Be 1 To 255.");
}

TEST_F(OperationsTest, MoveCopiesSocketOneOverTheDeviceRangeOnly) {
  choose("27C64", 3);
  fillRandom(5);
  const std::uint8_t beyond = bench.session.image()[0x2000];
  for (std::uint32_t a = 0; a < 0x40000; ++a)
    programmer.chip(1).cells()[a] = static_cast<std::uint8_t>(a * 7);
  bench.Move_EpromClick();
  for (std::int32_t a = 0; a < 0x2000; ++a)
    ASSERT_EQ(bench.session.image()[a], static_cast<std::uint8_t>(a * 7));
  EXPECT_EQ(bench.session.image()[0x2000], beyond);
  EXPECT_EQ(status(), "Device #1 Has Been Moved to Buffer....");
  EXPECT_TRUE(host.caption(Control::Chk_Sum_But).starts_with("CheckSum="));
  EXPECT_EQ(host.caption(Control::Quit_Func_But), "&Quit = 0000");
  EXPECT_EQ(label(1), "");  // Move writes no socket label
}

TEST_F(OperationsTest, MoveOfA256KDeviceReadsAllOfIt) {
  choose("27C2001", 1);
  for (std::uint32_t a = 0; a < 0x40000; ++a) {
    programmer.chip(1).cells()[a] = static_cast<std::uint8_t>((a >> 16) * 0x40 + (a & 0x3F));
  }
  bench.Move_EpromClick();
  for (std::int32_t a = 0; a < 0x40000; a += 0x1001) {
    ASSERT_EQ(bench.session.image()[a], static_cast<std::uint8_t>((a >> 16) * 0x40 + (a & 0x3F)))
        << a;
  }
  EXPECT_EQ(bench.session.image()[0x3FFFF], static_cast<std::uint8_t>(3 * 0x40 + 0x3F));
}

TEST_F(OperationsTest, ProgressShowsEveryBlockAddressOnTheQuitButton) {
  choose("2716", 1);
  host.captionHistory.clear();
  bench.Blank_ChkClick();
  // The busy state, the one block, and the idle state with the address reached.
  const std::vector<std::string> expected = {"&Quit = 0000", "&Quit = 0000", "&Quit = 0800"};
  EXPECT_EQ(host.captionHistory[Control::Quit_Func_But], expected);
}

TEST_F(OperationsTest, QuitDuringAVerifyStopsItAndTheNextRunReadsCleanData) {
  fillRandom(6);
  choose("27C256", 3);
  bench.Program_EpromClick();
  // Quit in the third block, with the programmer's reply to it coming too late to be read.
  bool quitClicked = false;
  host.onPump = [this, &quitClicked] {
    if (host.caption(Control::Quit_Func_But) == "&Quit = 1000" && !quitClicked &&
        host.caption(Control::StaticText3) != "Stopped at 1000....") {
      programmer.setReplyDelay(Clock::Millis(700));
      quitClicked = true;
      bench.Quit_Func_ButClick();
    }
  };
  bench.Verify_EpromClick();
  host.onPump = nullptr;
  EXPECT_EQ(status(), "Stopped at 1000....");
  for (int s = 1; s <= 3; ++s) EXPECT_EQ(label(s), std::to_string(s) + "-Stopped") << s;
  EXPECT_TRUE(host.socketsLooking(SocketLook::Passed).empty());
  EXPECT_FALSE(host.buttonsBusy);
  // Quit and the status name one address, and the log tells of the stop.
  EXPECT_EQ(host.caption(Control::Quit_Func_But), "&Quit = 1000");
  EXPECT_TRUE(host.log.front().starts_with("Verify Device took ")) << host.log.front();
  EXPECT_TRUE(host.log.front().ends_with(", stopped at 1000")) << host.log.front();

  // The operator looks, then verifies again: the late replies must not shift the new run.
  programmer.setReplyDelay(Clock::Millis(0));
  host.clock.advance(Clock::Millis(2000));
  bench.Verify_EpromClick();
  EXPECT_EQ(status(), "Verify Test Done....");
  for (int s = 1; s <= 3; ++s) EXPECT_EQ(label(s), std::to_string(s) + "- Verified OK   ") << s;
}

TEST_F(OperationsTest, SilentProgrammerDuringProgramIsReportedAsAStop) {
  fillRandom(7);
  choose("27C256", 2);
  host.onPump = [this] {
    if (host.caption(Control::Quit_Func_But) == "&Quit = 0300") programmer.dropReplies(1000);
  };
  bench.Program_EpromClick();
  host.onPump = nullptr;
  EXPECT_EQ(host.log.at(1), "Device no longer present ... PortStatus-0 USB-5");
  EXPECT_EQ(status(), "Stopped at 0300....");
  EXPECT_EQ(label(1), "1-Stopped");
  EXPECT_EQ(label(2), "2-Stopped");
  EXPECT_FALSE(host.buttonsBusy);
  // Found again, the programmer is sent commands of a command's length, not a page's.
  programmer.dropReplies(0);
  programmer.clearPackets();
  bench.StaticText3Click();
  EXPECT_TRUE(bench.session.connected());
  ASSERT_FALSE(programmer.packets().empty());
  for (const Bytes& sent : programmer.packets()) EXPECT_EQ(sent.size(), 8u);
}

// A pulled cable is no stop to start again from: the status says the programmer was lost and
// how it is found again, and no operation is offered until it has been.
TEST_F(OperationsTest, UnpluggedProgrammerStopsAReadTestWithoutAVerdict) {
  fillRandom(8);
  choose("27C256", 2);
  bench.Program_EpromClick();
  host.onPump = [this] {
    if (host.caption(Control::Quit_Func_But) == "&Quit = 2000") programmer.setUnplugged(true);
  };
  bench.Verify_EpromClick();
  host.onPump = nullptr;
  EXPECT_EQ(status(), "Programmer lost at 2000: check its cable, then click here");
  EXPECT_EQ(label(1), "1-Stopped");
  EXPECT_EQ(label(2), "2-Stopped");
  EXPECT_FALSE(bench.session.connected());
  EXPECT_FALSE(host.operationButtonsEnabled);
}

TEST_F(OperationsTest, EachSocketsResultNamesWhereAndHowItFirstFailed) {
  fillRandom(14);
  bench.session.image()[0x1A7F] = 0x3C;
  choose("27C256", 5);
  programmer.chip(4).setStuckBit(0x1A7F, 2, false);  // reads 0x38 where 0x3C was written
  bench.Program_EpromClick();
  const OperationResult& program = bench.session.lastResult();
  ASSERT_EQ(program.sockets.size(), 5u);
  EXPECT_EQ(program.sockets[3].describe(), "Not Programmed at 0x01A00");
  EXPECT_EQ(program.sockets[0].describe(), "Programmed OK");
  EXPECT_FALSE(program.allPassed());

  // Verify finds the byte itself.
  bench.Verify_EpromClick();
  const OperationResult& verify = bench.session.lastResult();
  EXPECT_EQ(verify.operation, "Verify Device");
  for (int s : {1, 2, 3, 5}) {
    EXPECT_EQ(verify.sockets[static_cast<std::size_t>(s - 1)].state, SocketResult::State::Passed);
  }
  EXPECT_EQ(verify.sockets[3].describe(), "Didn't Verify at 0x01A7F: expected 0x3C, read 0x38");
  EXPECT_EQ(host.log.at(1), "socket 4: Didn't Verify at 0x01A7F: expected 0x3C, read 0x38");

  bench.Blank_ChkClick();
  EXPECT_EQ(bench.session.lastResult().sockets[0].describe(),
            "Is Not Blank at 0x00000: expected 0xFF, read 0x" + hexByte(bench.session.image()[0]));

  host.onPump = [this] {
    if (host.caption(Control::Quit_Func_But) == "&Quit = 1000") bench.Quit_Func_ButClick();
  };
  bench.Prg_CompareClick();
  host.onPump = nullptr;
  const OperationResult& stopped = bench.session.lastResult();
  EXPECT_TRUE(stopped.stopped);
  EXPECT_EQ(stopped.sockets[0].describe(), "Stopped");
  EXPECT_EQ(stopped.sockets[3].state, SocketResult::State::Stopped);
  EXPECT_FALSE(stopped.allPassed());
}

TEST_F(OperationsTest, EveryOperationTellsWhatItDoesShowsItsProgressAndLogsItsTime) {
  fillRandom(13);
  choose("27C256", 2);
  const struct {
    void (Workbench::*click)();
    const char* name;
    const char* start;  // the progress note while it runs
  } operations[] = {
      {&Workbench::Blank_ChkClick, "Blank Check", "Checking to see if Device is erased...."},
      {&Workbench::Program_EpromClick, "Program Device", "Programming Device from Buffer...."},
      {&Workbench::Verify_EpromClick, "Verify Device", "Verifying Device to Buffer...."},
      {&Workbench::Prg_CompareClick, "Program Compare", "Program Compare Device to Buffer...."},
      {&Workbench::Move_EpromClick, "Move Device #1", "Moving Device #1 to Buffer...."}};
  for (const auto& [click, name, start] : operations) {
    host.captionHistory.erase(Control::StaticText2);
    host.progress.clear();
    bool shownWhileRunning = false;
    host.onPump = [&] {
      shownWhileRunning = shownWhileRunning || host.isVisible(Control::Progress);
    };
    (bench.*click)();
    host.onPump = nullptr;
    EXPECT_EQ(host.captionHistory[Control::StaticText2], std::vector<std::string>{start});
    EXPECT_TRUE(shownWhileRunning) << name;
    EXPECT_FALSE(host.isVisible(Control::Progress)) << name;
    ASSERT_FALSE(host.progress.empty()) << name;
    EXPECT_EQ(host.progress.front().done, 0) << name;
    EXPECT_EQ(host.progress.back().done, 0x8000) << name;
    EXPECT_EQ(host.progress.back().total, 0x8000) << name;
    EXPECT_EQ(host.progress.back().operation, name);
    for (std::size_t i = 1; i < host.progress.size(); ++i) {
      EXPECT_GE(host.progress[i].done, host.progress[i - 1].done) << name;
      EXPECT_GE(host.progress[i].elapsedMs, host.progress[i - 1].elapsedMs) << name;
    }
    // Its time is the log's news, and the log shows once the operation is over.
    EXPECT_TRUE(host.log.front().starts_with(std::string(name) + " took ")) << host.log.front();
    EXPECT_TRUE(host.log.front().ends_with(" s"));
    EXPECT_TRUE(host.isVisible(Control::Memo1)) << name;
  }
  EXPECT_EQ(status(), "Device #1 Has Been Moved to Buffer....");  // the end texts stay
}

TEST_F(OperationsTest, TheLastPageWaitsForSlowRepliesLikeEveryOtherPage) {
  fillRandom(9);
  choose("2716", 2);
  programmer.setReplyDelay(Clock::Millis(700));  // longer than the read time-out
  programmer.clearPackets();
  bench.Program_EpromClick();
  EXPECT_EQ(programsOf(0xBE) + programsOf(0xBD), 16);
  EXPECT_EQ(status(), "Programming Done....");
  EXPECT_EQ(label(2), "2-Programmed OK ");
  EXPECT_TRUE(chipHoldsTheBuffer(2));
  EXPECT_EQ(std::count(host.log.begin(), host.log.end(),
                       "Device no longer present ... PortStatus-0 USB-5"),
            0);
}

TEST_F(OperationsTest, WithoutADeviceTypeNoOperationSendsAnything) {
  choose("27C256", 2);  // then the heading: the end address and the count stay
  bench.selection.DeviceClick();
  bench.selection.Device_BoxClick(0);
  ASSERT_EQ(bench.session.settings().deviceFamily, 0);
  const std::vector<void (Workbench::*)()> clicks = {
      &Workbench::Program_EpromClick, &Workbench::Blank_ChkClick, &Workbench::Verify_EpromClick,
      &Workbench::Move_EpromClick, &Workbench::Prg_CompareClick};
  for (auto click : clicks) {
    host.boxes.clear();
    host.captions.erase(Control::StaticText2);
    programmer.clearPackets();
    (bench.*click)();
    EXPECT_TRUE(programmer.packets().empty());
    EXPECT_EQ(host.boxTexts(), std::vector<std::string>{"No Device Was Selected."});
    EXPECT_EQ(host.caption(Control::StaticText2), "");
    EXPECT_FALSE(host.buttonsBusy);
  }
  EXPECT_EQ(label(1), "");
}

TEST_F(OperationsTest, AStoppedMoveLeavesTheSocketLabelsAlone) {
  choose("27C256", 3);
  bench.Blank_ChkClick();
  host.onPump = [this] {
    if (host.caption(Control::Quit_Func_But) == "&Quit = 1000") bench.Quit_Func_ButClick();
  };
  bench.Move_EpromClick();
  host.onPump = nullptr;
  EXPECT_EQ(status(), "Stopped at 1000....");
  for (int s = 1; s <= 3; ++s) EXPECT_EQ(label(s), std::to_string(s) + "- Is Blank      ");
}

TEST_F(OperationsTest, ARunStoppedByAnIncompleteReplySaysSo) {
  fillRandom(15);
  choose("27C256", 2);
  bench.Program_EpromClick();
  host.onPump = [this] {
    if (host.caption(Control::Quit_Func_But) == "&Quit = 1000") programmer.cutReplies(1, 1000);
  };
  bench.Verify_EpromClick();
  host.onPump = nullptr;
  EXPECT_EQ(status(), "Stopped at 1000....");
  EXPECT_NE(std::find(host.log.begin(), host.log.end(),
                      "The programmer's reply came incomplete (1000 of 2056 bytes): the run "
                      "stopped."),
            host.log.end());
  EXPECT_EQ(label(1), "1-Stopped");  // never judged on what did not come
}

}  // namespace
}  // namespace tandra::test
