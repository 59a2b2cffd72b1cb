// Files that other tools write load into the bytes those tools read from them, and the files we
// save are read by those tools into the bytes of the buffer. The tools are srec_cat and srec_cmp
// (Debian package srecord), GNU objcopy and xxd; they run in a scratch folder of their own per
// test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "FileTestSupport.h"
#include "files/Loaders.h"
#include "files/Savers.h"
#include "image/ImageBuffer.h"

namespace tandra::test {
namespace {

namespace fs = std::filesystem;

// Device end addresses of every device size, 2K to 256K.
const std::vector<std::int32_t> kDeviceEnds{0x7FF,  0xFFF,  0x1FFF,  0x3FFF,
                                            0x7FFF, 0xFFFF, 0x1FFFF, 0x3FFFF};

// What the buffer holds where a load must not write.
constexpr std::uint8_t kUntouched = 0x5A;

std::string sizeName(std::int32_t deviceEnd) {
  return std::to_string((deviceEnd + 1) / 1024) + "K";
}

// The outside tools are the build machine's, run by its POSIX shell: on Windows the cases stand
// skipped (the files they check are the same bytes there, as SaverTest shows).
#if defined(_WIN32)
constexpr const char* kNotHere = " is a tool of the build machine's, not of Windows: ";
bool toolInstalled(const std::string&) {
  return false;
}
#else
constexpr const char* kNotHere = " not installed: ";
bool toolInstalled(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}
#endif

// Every byte value turns up, and no two neighbouring records look alike.
std::string randomBytes(std::size_t count, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(count, '\0');
  for (char& b : bytes) b = static_cast<char>(random() >> 24);
  return bytes;
}

// A buffer in which every byte differs from what the load must store: the complement of
// `expected` at `at` onwards, kUntouched everywhere else.
ImageBuffer primedAgainst(std::int32_t deviceEnd, std::int32_t at, const std::string& expected) {
  ImageBuffer image;
  image.deviceEndAddress = deviceEnd;
  std::fill(image.data(), image.data() + ImageBuffer::kSize, kUntouched);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    image[at + static_cast<std::int32_t>(i)] = static_cast<std::uint8_t>(~expected[i]);
  }
  return image;
}

::testing::AssertionResult holds(const ImageBuffer& image, std::int32_t at,
                                 const std::string& expected) {
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::int32_t address = at + static_cast<std::int32_t>(i);
    const auto want = static_cast<std::uint8_t>(expected[i]);
    if (image[address] != want) {
      return ::testing::AssertionFailure()
             << "first difference at 0x" << std::hex << address << ": buffer holds 0x"
             << int{image[address]} << ", the tool read 0x" << int{want};
    }
  }
  return ::testing::AssertionSuccess();
}

// Nothing outside [at, at + length) was written.
::testing::AssertionResult untouchedOutside(const ImageBuffer& image, std::int32_t at,
                                            std::size_t length) {
  const auto end = at + static_cast<std::int32_t>(length);
  for (std::int32_t address = 0; address < ImageBuffer::kSize; ++address) {
    if ((address < at || address >= end) && image[address] != kUntouched) {
      return ::testing::AssertionFailure() << "the load wrote 0x" << std::hex << address;
    }
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult textShowsAndLacks(const std::string& text,
                                             const std::vector<std::string>& shows,
                                             const std::vector<std::string>& lacks) {
  for (const std::string& s : shows) {
    if (text.find(s) == std::string::npos) {
      return ::testing::AssertionFailure() << "the file lacks \"" << s << "\"";
    }
  }
  for (const std::string& s : lacks) {
    if (text.find(s) != std::string::npos) {
      return ::testing::AssertionFailure() << "the file holds \"" << s << "\"";
    }
  }
  return ::testing::AssertionSuccess();
}

// Loads a text file the tool wrote into a buffer primed against `expected` and checks that
// exactly `expected` landed at `at`, with no record counted as wrong or dropped.
void expectLoadStores(const std::string& path, std::int32_t deviceEnd, std::int32_t at,
                      const std::string& expected) {
  ImageBuffer image = primedAgainst(deviceEnd, at, expected);
  const LoadReport report = Load_Hex_File(image, path);
  EXPECT_TRUE(holds(image, at, expected));
  EXPECT_TRUE(untouchedOutside(image, at, expected.size()));
  EXPECT_EQ(report.badChecksums, 0) << "first on line " << report.firstBadChecksumLine;
  EXPECT_EQ(report.bytesOutsideBuffer, 0u);
  EXPECT_EQ(report.notes(), "") << "a file a tool wrote whole loads cleanly";
}

// A case run in a scratch folder of its own, skipped where srecord is not installed.
template <typename Case>
class WithSrecord : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    if (!toolInstalled("srec_cat") || !toolInstalled("srec_cmp")) {
      GTEST_SKIP() << "srec_cat/srec_cmp" << kNotHere
                   << "Debian package srecord, which ./build.sh installs";
    }
  }
  ScratchFolder folder;
};

// ---------------------------------------------------------------------------------------------
// A whole device image written by srec_cat from address 0.

// Every device size for the plain cases; the variants of record length, line end and end
// record at the smallest size, at 64K and at 256K.
const std::vector<std::int32_t> kSomeDeviceEnds{0x7FF, 0xFFFF, 0x3FFFF};
// S1 addresses stop at 64K.
const std::vector<std::int32_t> kS1DeviceEnds{0x7FF, 0xFFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF};
const std::vector<std::int32_t> kSomeS1DeviceEnds{0x7FF, 0x7FFF, 0xFFFF};

const std::string kReadIntel = "srec_cat in.hex -Intel -o reference.bin -binary";
const std::string kReadMotorola = "srec_cat in.hex -Motorola -o reference.bin -binary";

struct SrecCatOutput {
  std::string name;
  std::string options;   // srec_cat's output format and its options
  std::string readBack;  // in.hex to reference.bin
  std::vector<std::int32_t> deviceEnds;
  std::vector<std::string> shows;  // so that each case holds what it is named for
  std::vector<std::string> lacks;
};

const std::vector<SrecCatOutput> kSrecCatOutputs{
    {"IntelLinear16Lf",
     "-Intel -obs 16 -line-termination=nl",
     kReadIntel,
     kDeviceEnds,
     {":020000040000FA\n", ":10"},
     {"\r", ":02000002"}},
    {"IntelSegment16CrLf",
     "-Intel -address-length=3 -obs 16 -crlf",
     kReadIntel,
     kDeviceEnds,
     {":020000020000FC\r\n", ":10"},
     {":02000004"}},
    {"IntelLinear32CrLf",
     "-Intel -obs 32 -crlf",
     kReadIntel,
     kSomeDeviceEnds,
     {":020000040000FA\r\n", ":20"},
     {":02000002"}},
    {"IntelSegment32Lf",
     "-Intel -address-length=3 -obs 32",
     kReadIntel,
     kSomeDeviceEnds,
     {":020000020000FC\n", ":20"},
     {"\r", ":02000004"}},
    {"IntelLinear255Lf",
     "-Intel -obs 255",
     kReadIntel,
     kSomeDeviceEnds,
     {":02000004", ":FF"},
     {"\r"}},
    {"IntelSegment255CrLf",
     "-Intel -address-length=3 -obs 255 -crlf",
     kReadIntel,
     kSomeDeviceEnds,
     {":020000020000FC\r\n", ":FF"},
     {":02000004"}},
    // srec_cat cannot read its own CR-only output; its LF twin is the reference.
    {"IntelLinearCrOnly",
     "-Intel -line-termination=cr",
     "tr '\\r' '\\n' <in.hex >lf.hex && srec_cat lf.hex -Intel -o reference.bin -binary",
     kSomeDeviceEnds,
     {":020000040000FA\r:"},
     {"\n"}},
    // A start address record (type 05) before the end record.
    {"IntelStartAddress",
     "-Intel -execution-start-address 0x1234",
     kReadIntel,
     kSomeDeviceEnds,
     {":0400000500001234B1"},
     {}},
    // srec_cat adds the S0 header and the S5 record count.
    {"S1_16Lf",
     "-Motorola -address-length=2 -obs 16",
     kReadMotorola,
     kS1DeviceEnds,
     {"S0", "\nS113", "\nS5"},
     {"\r"}},
    {"S2_32CrLf",
     "-Motorola -address-length=3 -obs 32 -crlf",
     kReadMotorola,
     kDeviceEnds,
     {"S0", "\nS224", "\nS5"},
     {}},
    {"S3_16CrLf",
     "-Motorola -address-length=4 -obs 16 -crlf",
     kReadMotorola,
     kDeviceEnds,
     {"S0", "\nS315", "\nS5"},
     {}},
    {"S1_252CrLf",
     "-Motorola -address-length=2 -obs 252 -crlf",
     kReadMotorola,
     kSomeS1DeviceEnds,
     {"S0", "\nS1FF", "\nS5"},
     {}},
    {"S2_251Lf",
     "-Motorola -address-length=3 -obs 251",
     kReadMotorola,
     kSomeDeviceEnds,
     {"S0", "\nS2FF", "\nS5"},
     {"\r"}},
    {"S3_250Lf",
     "-Motorola -address-length=4 -obs 250",
     kReadMotorola,
     kSomeDeviceEnds,
     {"S0", "\nS3FF", "\nS5"},
     {"\r"}},
    // An end record with a start address: S9, S8 and S7.
    {"S1StartAddress",
     "-Motorola -address-length=2 -execution-start-address 0",
     kReadMotorola,
     kSomeS1DeviceEnds,
     {"\nS9030000FC"},
     {}},
    {"S2StartAddress",
     "-Motorola -address-length=3 -execution-start-address 0",
     kReadMotorola,
     kSomeDeviceEnds,
     {"\nS804000000FB"},
     {}},
    {"S3StartAddress",
     "-Motorola -address-length=4 -execution-start-address 0",
     kReadMotorola,
     kSomeDeviceEnds,
     {"\nS70500000000FA"},
     {}},
};

using SrecCatImage = std::pair<SrecCatOutput, std::int32_t>;

std::vector<SrecCatImage> srecCatImages() {
  std::vector<SrecCatImage> all;
  for (const SrecCatOutput& output : kSrecCatOutputs) {
    for (std::int32_t end : output.deviceEnds) all.emplace_back(output, end);
  }
  return all;
}

using SrecCatImageFile = WithSrecord<SrecCatImage>;

TEST_P(SrecCatImageFile, LoadsIntoTheBytesSrecCatReadsFromIt) {
  const auto& [output, deviceEnd] = GetParam();
  writeFile(folder.file("image.bin"), randomBytes(static_cast<std::size_t>(deviceEnd) + 1,
                                                  static_cast<std::uint32_t>(deviceEnd)));
  ASSERT_TRUE(folder.run("srec_cat image.bin -binary -o in.hex " + output.options + " && " +
                         output.readBack));
  ASSERT_TRUE(textShowsAndLacks(readFile(folder.file("in.hex")), output.shows, output.lacks));
  const std::string reference = readFile(folder.file("reference.bin"));
  ASSERT_EQ(reference.size(), static_cast<std::size_t>(deviceEnd) + 1);

  expectLoadStores(folder.file("in.hex"), deviceEnd, 0, reference);
}

INSTANTIATE_TEST_SUITE_P(Interop, SrecCatImageFile, ::testing::ValuesIn(srecCatImages()),
                         [](const ::testing::TestParamInfo<SrecCatImage>& p) {
                           return p.param.first.name + "_" + sizeName(p.param.second);
                         });

// ---------------------------------------------------------------------------------------------
// An image linked elsewhere than at 0: every record's start folds into the device range.

struct LinkedImage {
  std::string name;
  std::int32_t deviceEnd;
  std::string linkAddress;
  std::string options;
  std::string readAs;
  std::string shows;
};

const std::vector<LinkedImage> kLinkedImages{
    {"At8000For32KIntelLinear", 0x7FFF, "0x8000", "-Intel", "-Intel", ":20800000"},
    {"At8000For32KIntelSegment", 0x7FFF, "0x8000", "-Intel -address-length=3", "-Intel",
     ":20800000"},
    {"At8000For32KS1", 0x7FFF, "0x8000", "-Motorola -address-length=2", "-Motorola", "S1238000"},
    {"At8000For32KS2", 0x7FFF, "0x8000", "-Motorola -address-length=3", "-Motorola", "S224008000"},
    {"AtF800For2KIntel", 0x7FF, "0xF800", "-Intel", "-Intel", ":20F80000"},
    {"At10000For64KIntelSegment", 0xFFFF, "0x10000", "-Intel -address-length=3", "-Intel",
     ":020000021000EC"},
    {"At20000For128KS2", 0x1FFFF, "0x20000", "-Motorola -address-length=3", "-Motorola",
     "S224020000"},
    {"AtFFFC0000For256KIntelLinear", 0x3FFFF, "0xFFFC0000", "-Intel", "-Intel", ":02000004FFFCFF"},
    {"AtFFFC0000For256KS3", 0x3FFFF, "0xFFFC0000", "-Motorola -address-length=4", "-Motorola",
     "S325FFFC0000"},
};

using SrecCatLinkedImage = WithSrecord<LinkedImage>;

TEST_P(SrecCatLinkedImage, FoldsToAddressZero) {
  const LinkedImage& c = GetParam();
  writeFile(folder.file("image.bin"), randomBytes(static_cast<std::size_t>(c.deviceEnd) + 1, 7));
  ASSERT_TRUE(folder.run("srec_cat image.bin -binary -offset " + c.linkAddress + " -o in.hex " +
                         c.options + " && srec_cat in.hex " + c.readAs + " -offset -" +
                         c.linkAddress + " -o reference.bin -binary"));
  ASSERT_TRUE(textShowsAndLacks(readFile(folder.file("in.hex")), {c.shows}, {}));
  const std::string reference = readFile(folder.file("reference.bin"));
  ASSERT_EQ(reference.size(), static_cast<std::size_t>(c.deviceEnd) + 1);

  expectLoadStores(folder.file("in.hex"), c.deviceEnd, 0, reference);
}

INSTANTIATE_TEST_SUITE_P(Interop, SrecCatLinkedImage, ::testing::ValuesIn(kLinkedImages),
                         [](const ::testing::TestParamInfo<LinkedImage>& p) {
                           return p.param.name;
                         });

// ---------------------------------------------------------------------------------------------
// One record that starts 8 bytes before a 64 KiB boundary and runs 8 bytes past it.

struct BoundaryRecord {
  std::string name;
  std::int32_t deviceEnd;
  std::int32_t boundary;
  std::string options;
  std::string readAs;
  std::string shows;  // the record that crosses
};

const std::vector<BoundaryRecord> kBoundaryRecords{
    {"IntelAt10000", 0x1FFFF, 0x10000, "-Intel", "-Intel", ":10FFF800"},
    {"IntelAt30000", 0x3FFFF, 0x30000, "-Intel", "-Intel", ":020000040002F8\n:10FFF800"},
    {"S2At10000", 0x1FFFF, 0x10000, "-Motorola -address-length=3", "-Motorola", "S21400FFF8"},
    {"S2At30000", 0x3FFFF, 0x30000, "-Motorola -address-length=3", "-Motorola", "S21402FFF8"},
    {"S3At20000", 0x3FFFF, 0x20000, "-Motorola -address-length=4", "-Motorola", "S3150001FFF8"},
};

using SrecCatBoundaryRecord = WithSrecord<BoundaryRecord>;

TEST_P(SrecCatBoundaryRecord, StoresOnBothSidesOfTheBoundary) {
  const BoundaryRecord& c = GetParam();
  const std::int32_t start = c.boundary - 8;
  writeFile(folder.file("image.bin"), randomBytes(static_cast<std::size_t>(c.deviceEnd) + 1, 11));
  ASSERT_TRUE(folder.run("srec_cat image.bin -binary -crop " + std::to_string(start) + " " +
                         std::to_string(start + 16) + " -o in.hex " + c.options +
                         " && srec_cat in.hex " + c.readAs + " -offset -" + std::to_string(start) +
                         " -o reference.bin -binary"));
  ASSERT_TRUE(textShowsAndLacks(readFile(folder.file("in.hex")), {c.shows}, {}));
  const std::string reference = readFile(folder.file("reference.bin"));
  ASSERT_EQ(reference.size(), 16u);

  expectLoadStores(folder.file("in.hex"), c.deviceEnd, start, reference);
}

INSTANTIATE_TEST_SUITE_P(Interop, SrecCatBoundaryRecord, ::testing::ValuesIn(kBoundaryRecords),
                         [](const ::testing::TestParamInfo<BoundaryRecord>& p) {
                           return p.param.name;
                         });

// ---------------------------------------------------------------------------------------------
// A whole device image written by GNU objcopy, which picks its own record types (Intel
// segment records past 64K, S1/S2/S3 by the highest address) and writes an S0 header.

struct ObjcopyOutput {
  std::string name;
  std::string options;  // objcopy's output format and its options
  std::string readAs;   // its input format to read the file back
  std::vector<std::int32_t> deviceEnds;
  std::string shows;
};

const std::vector<ObjcopyOutput> kObjcopyOutputs{
    {"Intel", "-O ihex", "ihex", kDeviceEnds, ":10000000"},
    {"SRecords", "-O srec", "srec", kDeviceEnds, "S0"},
    {"S3", "-O srec --srec-forceS3", "srec", kSomeDeviceEnds, "\nS315"},
    {"S1Length64", "-O srec --srec-len 64", "srec", kSomeS1DeviceEnds, "\nS143"},
    // Linked above the device's range: it folds onto it, and that is told, not a fault.
    {"IntelAt8000", "-O ihex --change-addresses 0x8000", "ihex", {0x7FFF}, ":10800000"},
};

using ObjcopyImage = std::pair<ObjcopyOutput, std::int32_t>;

std::vector<ObjcopyImage> objcopyImages() {
  std::vector<ObjcopyImage> all;
  for (const ObjcopyOutput& output : kObjcopyOutputs) {
    for (std::int32_t end : output.deviceEnds) all.emplace_back(output, end);
  }
  return all;
}

class ObjcopyImageFile : public ::testing::TestWithParam<ObjcopyImage> {
 protected:
  void SetUp() override {
    if (!toolInstalled("objcopy")) GTEST_SKIP() << "objcopy" << kNotHere << "Debian binutils";
  }
  ScratchFolder folder;
};

TEST_P(ObjcopyImageFile, LoadsIntoTheBytesObjcopyReadsFromIt) {
  const auto& [output, deviceEnd] = GetParam();
  writeFile(folder.file("image.bin"), randomBytes(static_cast<std::size_t>(deviceEnd) + 1,
                                                  static_cast<std::uint32_t>(deviceEnd) + 17));
  ASSERT_TRUE(folder.run("objcopy -I binary " + output.options +
                         " image.bin in.hex && objcopy -I " + output.readAs +
                         " -O binary in.hex reference.bin"));
  ASSERT_TRUE(textShowsAndLacks(readFile(folder.file("in.hex")), {output.shows}, {}));
  const std::string reference = readFile(folder.file("reference.bin"));
  ASSERT_EQ(reference.size(), static_cast<std::size_t>(deviceEnd) + 1);

  expectLoadStores(folder.file("in.hex"), deviceEnd, 0, reference);
}

INSTANTIATE_TEST_SUITE_P(Interop, ObjcopyImageFile, ::testing::ValuesIn(objcopyImages()),
                         [](const ::testing::TestParamInfo<ObjcopyImage>& p) {
                           return p.param.first.name + "_" + sizeName(p.param.second);
                         });

// ---------------------------------------------------------------------------------------------
// The files we save, read back by the tools.

struct ReadBack {
  std::string name;
  FileFormat format;
  std::string tool;
  std::string command;  // reads "saved" into "back.bin"; "reference.bin" holds the buffer's bytes
};

const std::vector<ReadBack> kReadBacks{
    {"Intel", FileFormat::IntelHex, "srec_cat", "srec_cat saved -Intel -o back.bin -binary"},
    {"Motorola", FileFormat::MotorolaHex, "srec_cat",
     "srec_cat saved -Motorola -o back.bin -binary"},
    {"AsciiHex", FileFormat::AsciiHex, "xxd", "xxd -r -p saved back.bin"},
    {"Binary", FileFormat::Binary, "srec_cmp",
     "srec_cmp saved -binary reference.bin -binary && cp saved back.bin"},
};

using SavedImage = std::pair<ReadBack, std::int32_t>;

std::vector<SavedImage> savedImages() {
  std::vector<SavedImage> all;
  for (const ReadBack& r : kReadBacks) {
    for (std::int32_t end : kDeviceEnds) all.emplace_back(r, end);
  }
  return all;
}

class SavedFile : public ::testing::TestWithParam<SavedImage> {
 protected:
  void SetUp() override {
    if (!toolInstalled(GetParam().first.tool)) {
      GTEST_SKIP() << GetParam().first.tool << kNotHere << "./build.sh installs it";
    }
  }
  ScratchFolder folder;
};

TEST_P(SavedFile, ReadsBackAsTheBuffersBytes) {
  const auto& [readBack, deviceEnd] = GetParam();
  // The whole buffer is random, so a save that ran past the device end would show.
  ImageBuffer image;
  image.deviceEndAddress = deviceEnd;
  const std::string whole =
      randomBytes(ImageBuffer::kSize, 0x5EED0000u + static_cast<std::uint32_t>(deviceEnd));
  std::copy(whole.begin(), whole.end(), image.data());
  const std::string range = whole.substr(0, static_cast<std::size_t>(deviceEnd) + 1);
  writeFile(folder.file("reference.bin"), range);

  if (readBack.format == FileFormat::Binary) {
    Save_Bin_File(image, folder.file("saved"));
  } else {
    Save_Hex_File(image, folder.file("saved"), readBack.format);
  }
  ASSERT_TRUE(folder.run(readBack.command));
  const std::string back = readFile(folder.file("back.bin"));
  ASSERT_EQ(back.size(), range.size());
  EXPECT_TRUE(holds(image, 0, back));
}

INSTANTIATE_TEST_SUITE_P(Interop, SavedFile, ::testing::ValuesIn(savedImages()),
                         [](const ::testing::TestParamInfo<SavedImage>& p) {
                           return p.param.first.name + "_" + sizeName(p.param.second);
                         });

// ---------------------------------------------------------------------------------------------
// `xxd -p` dumps load as Ascii hex: LF line ends, 30 bytes a line by default, and lines far
// longer than any record.

using XxdDump = std::pair<std::string, std::int32_t>;  // xxd's columns option, device end

std::vector<XxdDump> xxdDumps() {
  std::vector<XxdDump> all;
  for (const char* columns : {"", "-c 1000"}) {
    for (std::int32_t end : kDeviceEnds) all.emplace_back(columns, end);
  }
  return all;
}

class XxdPlainDump : public ::testing::TestWithParam<XxdDump> {
 protected:
  void SetUp() override {
    if (!toolInstalled("xxd")) GTEST_SKIP() << "xxd" << kNotHere << "./build.sh installs it";
  }
  ScratchFolder folder;
};

TEST_P(XxdPlainDump, LoadsAsAsciiHex) {
  const auto& [columns, deviceEnd] = GetParam();
  const std::string bytes = randomBytes(static_cast<std::size_t>(deviceEnd) + 1,
                                        static_cast<std::uint32_t>(deviceEnd) + 3);
  writeFile(folder.file("image.bin"), bytes);
  ASSERT_TRUE(folder.run("xxd -p " + columns + " image.bin dump.txt"));
  ASSERT_TRUE(textShowsAndLacks(readFile(folder.file("dump.txt")), {"\n"}, {"\r"}));

  expectLoadStores(folder.file("dump.txt"), deviceEnd, 0, bytes);
}

INSTANTIATE_TEST_SUITE_P(Interop, XxdPlainDump, ::testing::ValuesIn(xxdDumps()),
                         [](const ::testing::TestParamInfo<XxdDump>& p) {
                           return (p.param.first.empty() ? std::string("Default")
                                                         : std::string("Columns1000")) +
                                  "_" + sizeName(p.param.second);
                         });

}  // namespace
}  // namespace tandra::test
