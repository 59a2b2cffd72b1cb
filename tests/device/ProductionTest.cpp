// What a batch needs of the core: an image per socket, sockets left out, no pulse for a chip
// that cannot take its image, any socket read, lanes of a split image, serial numbers, and a
// plan that gives each set its images and numbers.
#include "BlockCommands.h"
#include "WorkbenchFixture.h"
#include "image/Checksum.h"
#include "production/ProductionImages.h"
#include "production/ProductionPlan.h"

namespace tandra::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class ProductionTest : public WorkbenchFixture {
 protected:
  ProductionTest() {
    startUp();
    session.select(typeNamed("2716"), 5);  // one block, eight pages
  }
  ImageBuffer filled(std::uint8_t value) {
    ImageBuffer image;
    image.deviceEndAddress = bench.session.image().deviceEndAddress;
    fillBuffer(image, value);
    return image;
  }
  int commandsToSocket(int socket) const { return blocksToSocket(programmer.packets(), socket); }
  Session& session = bench.session;
};

TEST_F(ProductionTest, EachSocketIsProgrammedAndJudgedWithItsOwnImage) {
  bench.session.image()[0] = 0x11;  // sockets without an image of their own take the image buffer
  session.socketImages().set(2, filled(0x22), "u2.bin", 1002);
  session.socketImages().set(4, filled(0x44), "u4.bin");
  EXPECT_TRUE(session.run(Operation::Program).allPassed());
  EXPECT_EQ(programmer.chip(1).cells()[0], 0x11);
  EXPECT_EQ(programmer.chip(2).cells()[0x7FF], 0x22);
  EXPECT_EQ(programmer.chip(3).cells()[0], 0x11);
  EXPECT_EQ(programmer.chip(4).cells()[0x400], 0x44);
  const OperationResult& verified = session.run(Operation::Verify);
  EXPECT_TRUE(verified.allPassed());
  EXPECT_EQ(verified.sockets[1].image, "u2.bin");
  EXPECT_EQ(verified.sockets[1].serialNumber, 1002u);
  EXPECT_EQ(verified.sockets[0].image, "");
  // Judged against its own image: socket 4 read as socket 2's is a failure.
  session.socketImages().set(4, filled(0x22), "u2.bin");
  EXPECT_EQ(session.run(Operation::Verify).sockets[3].state, SocketResult::State::Failed);
}

TEST_F(ProductionTest, ASocketLeftOutIsSentNothingAndIsNeitherPassedNorFailed) {
  session.leaveOut(0b01010);  // sockets 2 and 4
  programmer.clearPackets();
  for (Operation operation : {Operation::Program, Operation::Verify, Operation::BlankCheck}) {
    const OperationResult& result = session.run(operation);
    EXPECT_EQ(result.sockets[1].state, SocketResult::State::Skipped);
    EXPECT_EQ(result.sockets[3].state, SocketResult::State::Skipped);
  }
  EXPECT_EQ(commandsToSocket(2), 0);
  EXPECT_EQ(commandsToSocket(4), 0);
  EXPECT_GT(commandsToSocket(3), 0);
  EXPECT_EQ(host.caption(socketLabel(2)), "2-Skipped");
  EXPECT_EQ(host.socketsLooking(SocketLook::Skipped), (std::set<int>{2, 4}));
  session.leaveOut(0);
  EXPECT_TRUE(session.run(Operation::Program).sockets[1].state == SocketResult::State::Passed);
}

TEST_F(ProductionTest, AChipThatCannotTakeItsImageGetsNoPulse) {
  bench.session.image()[0x123] = 0xF0;
  programmer.chip(3).cells()[0x123] = 0x0F;  // the upper four bits can no longer rise
  programmer.clearPackets();
  const OperationResult& result = session.programWhereItCan();
  EXPECT_EQ(result.operation, "Program Device");
  EXPECT_EQ(result.sockets[2].state, SocketResult::State::Failed);
  EXPECT_EQ(result.sockets[2].describe(),
            "Can`t Be Programed at 0x00123: expected 0xF0, read 0x0F");
  int pulsesToSocket3 = 0;
  for (const Bytes& p : programmer.packets()) pulsesToSocket3 += p[0] == 0x43 && p[6] == 0xBF;
  EXPECT_EQ(pulsesToSocket3, 0);
  EXPECT_EQ(programmer.chip(3).cells()[0], 0xFF);  // left as it was
  EXPECT_EQ(result.sockets[4].state, SocketResult::State::Passed);
  EXPECT_EQ(bench.session.settings().skippedSockets, 0)
      << "the sockets left out for the run are back";
}

TEST_F(ProductionTest, AnySocketCanBeReadIntoTheBuffer) {
  std::fill_n(programmer.chip(4).cells().begin(), 0x800, 0x4D);
  session.read(4);
  EXPECT_EQ(bench.session.image()[0x7FF], 0x4D);
  EXPECT_EQ(commandsToSocket(1), 0);
}

TEST_F(ProductionTest, APlanGivesEachSetItsImagesAndNumbersAndTakesBackAFailedChipsNumber) {
  ProductionPlan plan;
  plan.shareBuffer("fw.bin");
  plan.giveImage(2, filled(0x22), "u2.bin");
  plan.numberChips(std::make_unique<SerialNumbers>(1000, 1, true),
                   {.address = 0x7F0, .format = SerialFormat::Ascii}, 0xFF, true);
  session.leaveOut(0b01000);  // socket 4
  ASSERT_FALSE(plan.composeSet(session));
  const SocketImages& images = session.socketImages();
  EXPECT_EQ(images.nameOf(1), "fw.bin");
  EXPECT_EQ(images.nameOf(2), "u2.bin");
  EXPECT_EQ(images.of(2)[0], 0x22);
  EXPECT_FALSE(images.serialNumberOf(4));
  EXPECT_EQ(images.serialNumberOf(5), 1003u);
  EXPECT_EQ(Bytes(images.of(3).data() + 0x7F0, images.of(3).data() + 0x7F8),
            Bytes({'0', '0', '0', '0', '1', '0', '0', '2'}));
  programmer.chip(3).cells()[0x7F7] = 0x00;  // cannot rise to its number's last digit
  const std::vector<OperationResult> set = {session.programWhereItCan(),
                                            session.run(Operation::Verify)};
  ChipPromise promise = ChipPromise::of(Operation::Program);
  promise.operations.push_back(Operation::Verify);
  std::vector<ChipVerdict> verdicts;
  for (int socket = 1; socket <= 5; ++socket) verdicts.push_back(*judgeChip(promise, set, socket));
  plan.settleSet(session, set, verdicts);
  const ChipCount chips = countChips(promise, set);
  EXPECT_EQ(chips.passed, 3);
  EXPECT_EQ(chips.failed, 1);
  ASSERT_FALSE(plan.composeSet(session));
  EXPECT_EQ(images.serialNumberOf(1), 1002u);  // the failed chip's number, given again first
  EXPECT_EQ(images.serialNumberOf(2), 1004u);

  // A socket with nothing to program, and a number with more digits than the stamp holds.
  const std::optional<SetShortfall> noImage = ProductionPlan().composeSet(session);
  ASSERT_TRUE(noImage);
  EXPECT_EQ(noImage->kind, SetShortfall::Kind::NoImage);
  EXPECT_EQ(noImage->socket, 1);
  plan.numberChips(std::make_unique<SerialNumbers>(123456789, 1, false),
                   {.address = 0x7F0, .format = SerialFormat::Ascii}, 0xFF, true);
  const std::optional<SetShortfall> tooLong = plan.composeSet(session);
  ASSERT_TRUE(tooLong);
  EXPECT_EQ(tooLong->kind, SetShortfall::Kind::NumberTooLong);
  EXPECT_EQ(tooLong->serialNumber, 123456789u);
}

TEST(SplitImages, EachLaneTakesEveryNthByteAndRunsOutErased) {
  ImageBuffer bus;
  for (std::int32_t a = 0; a < 0x1000; ++a) bus[a] = static_cast<std::uint8_t>(a);
  for (int lanes : {2, 4}) {
    for (int lane = 0; lane < lanes; ++lane) {
      const ImageBuffer chip = splitLane(bus, 0x1000, lanes, lane, 0x7FF);
      EXPECT_EQ(chip[0], lane);
      EXPECT_EQ(chip[5], static_cast<std::uint8_t>(5 * lanes + lane));
      EXPECT_EQ(chip[0x7FF], lanes == 2 ? static_cast<std::uint8_t>(0xFFE + lane) : 0xFF);
    }
  }
  // A source one byte short of whole words: the last word's missing byte is erased.
  EXPECT_EQ(splitLane(bus, 0xFFF, 2, 1, 0x7FF)[0x7FF], 0xFF);
}

TEST(SerialNumbers, EachFormatWritesTheNumberOrRefusesWhatDoesNotFit) {
  const struct {
    SerialFormat format;
    int width;
    std::uint64_t number;
    Bytes written;  // empty: refused
  } cases[] = {
      {SerialFormat::LittleEndian, 4, 0x12345678, {0x78, 0x56, 0x34, 0x12}},
      {SerialFormat::BigEndian, 2, 1000, {0x03, 0xE8}},
      {SerialFormat::BigEndian, 1, 256, {}},
      {SerialFormat::Bcd, 3, 123456, {0x12, 0x34, 0x56}},
      {SerialFormat::Bcd, 4, 19891998, {0x19, 0x89, 0x19, 0x98}},
      {SerialFormat::Bcd, 2, 12345, {}},
      {SerialFormat::Ascii, 5, 42, {'0', '0', '0', '4', '2'}},
      {SerialFormat::Ascii, 2, 123, {}},
  };
  for (const auto& c : cases) {
    ImageBuffer image;
    image.deviceEndAddress = 0x7FF;
    const bool fits = writeSerialNumber(image, 0x10, c.number, c.format, c.width);
    EXPECT_EQ(fits, !c.written.empty()) << c.number;
    if (fits) {
      EXPECT_EQ(Bytes(image.data() + 0x10, image.data() + 0x10 + c.width), c.written);
    }
  }
  ImageBuffer image;
  image.deviceEndAddress = 0x7FF;
  EXPECT_FALSE(writeSerialNumber(image, 0x7FE, 1, SerialFormat::LittleEndian, 4));  // past the end

  SerialNumbers spent(1000, 2, false), reused(1000, 2, true);
  for (SerialNumbers* numbers : {&spent, &reused}) {
    EXPECT_EQ(numbers->take(), 1000u);
    numbers->failed(1000);
  }
  EXPECT_EQ(spent.take(), 1002u);
  EXPECT_EQ(reused.take(), 1000u);
  EXPECT_EQ(reused.take(), 1002u);
  // The numbers never wrap round to ones given long ago, and never stand still.
  SerialNumbers last(UINT64_MAX - 2, 2, false);
  EXPECT_EQ(last.take(), UINT64_MAX - 2);
  EXPECT_EQ(last.take(), UINT64_MAX);
  EXPECT_FALSE(last.take());
  EXPECT_THROW(SerialNumbers(1, 0, false), std::invalid_argument);
}

}  // namespace
}  // namespace tandra::test
