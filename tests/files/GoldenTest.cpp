// The exact texts a save writes, against files under tests/data/files that were written out from
// the record layouts and their checksum rules, not by our writer (byte for byte, CR LF line ends
// included).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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

std::string golden(const std::string& name) {
  const std::string path = std::string(TANDRA_TEST_DATA) + "/" + name;
  if (!fs::exists(path)) ADD_FAILURE() << "missing golden file " << path;
  return readFile(path);
}

// The lines of a text whose every line ends in CR LF; a lone CR or LF fails the test.
std::vector<std::string> crLfLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t end = text.find("\r\n", from);
    if (end == std::string::npos) {
      ADD_FAILURE() << "text after the last CR LF: " << text.substr(from, 40);
      break;
    }
    lines.push_back(text.substr(from, end - from));
    if (lines.back().find_first_of("\r\n") != std::string::npos) {
      ADD_FAILURE() << "lone CR or LF in line " << lines.size() - 1;
    }
    from = end + 2;
  }
  return lines;
}



// ---------------------------------------------------------------------------------------------
// Whole files: the all-FF 2716 and the one-byte files before any device type is chosen.

struct GoldenFile {
  std::string name;
  std::int32_t deviceEnd;
  FileFormat format;
  std::string file;
  std::size_t bytesItLoads;  // from address 0
};

const std::vector<GoldenFile> kGoldenFiles{
    {"Intel2716", 0x7FF, FileFormat::IntelHex, "2716-ff-intel.hex", 0x800},
    {"Motorola2716", 0x7FF, FileFormat::MotorolaHex, "2716-ff-motorola.hex", 0x800},
    {"AsciiHex2716", 0x7FF, FileFormat::AsciiHex, "2716-ff-ascii.hex", 0x800},
    // The Intel writer completes its 16-byte record, which loads past the one-byte range.
    {"IntelBeforeAnyDevice", 0, FileFormat::IntelHex, "nodevice-ff-intel.hex", 16},
    {"MotorolaBeforeAnyDevice", 0, FileFormat::MotorolaHex, "nodevice-ff-motorola.hex", 1},
    {"AsciiHexBeforeAnyDevice", 0, FileFormat::AsciiHex, "nodevice-ff-ascii.hex", 1},
    {"BinaryBeforeAnyDevice", 0, FileFormat::Binary, "nodevice-ff.bin", 1},
};

class GoldenSave : public ::testing::TestWithParam<GoldenFile> {};

TEST_P(GoldenSave, WritesTheGoldenFileByteForByte) {
  const GoldenFile& g = GetParam();
  const ImageBuffer image = imageFor(g.deviceEnd, 0xFF);
  ScratchFolder folder;
  const std::string path = folder.file("saved");
  if (g.format == FileFormat::Binary) {
    Save_Bin_File(image, path);
  } else {
    Save_Hex_File(image, path, g.format);
  }
  const std::string expected = golden(g.file);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(readFile(path), expected);
}

TEST_P(GoldenSave, GoldenFileLoadsBackAsFF) {
  const GoldenFile& g = GetParam();
  ImageBuffer image = imageFor(g.deviceEnd, 0x00);
  ScratchFolder folder;
  const std::string path = folder.file("golden");
  std::ofstream(path, std::ios::binary) << golden(g.file);
  const LoadReport report =
      g.format == FileFormat::Binary ? Load_Bin_File(image, path) : Load_Hex_File(image, path);
  EXPECT_EQ(report.badChecksums, 0);
  const auto loaded = static_cast<std::int32_t>(g.bytesItLoads);
  for (std::int32_t a = 0; a < ImageBuffer::kSize; ++a) {
    ASSERT_EQ(image[a], a < loaded ? 0xFF : 0x00) << "at 0x" << std::hex << a;
  }
}

INSTANTIATE_TEST_SUITE_P(Golden, GoldenSave, ::testing::ValuesIn(kGoldenFiles),
                         [](const ::testing::TestParamInfo<GoldenFile>& p) {
                           return p.param.name;
                         });

// ---------------------------------------------------------------------------------------------
// Intel Hex of the devices past 64 KiB: a segment record opens every bank, and one for the next
// bank follows the last data record.

const std::vector<std::string> kSegmentRecords{
    ":020000020000FC", ":020000021000EC", ":020000022000DC", ":020000023000CC", ":020000024000BC"};

struct BankedDevice {
  std::string name;
  std::int32_t deviceEnd;
  int banks;
};

class GoldenSegmentRecords : public ::testing::TestWithParam<BankedDevice> {};

TEST_P(GoldenSegmentRecords, OpenEveryBankAndFollowTheLast) {
  const BankedDevice& d = GetParam();
  const std::vector<std::string> lines =
      crLfLines(hexFileText(imageFor(d.deviceEnd, 0xFF), FileFormat::IntelHex));
  // Per bank a segment record and 4,096 records of 16 bytes; then the next bank's segment
  // record and the end record.
  const std::size_t perBank = 1 + 4096;
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(d.banks) * perBank + 2);
  for (int bank = 0; bank <= d.banks; ++bank) {
    EXPECT_EQ(lines[static_cast<std::size_t>(bank) * perBank],
              kSegmentRecords[static_cast<std::size_t>(bank)]);
  }
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int bank = 0; bank < d.banks; ++bank) {
    for (std::uint32_t offset = 0; offset < 0x10000; offset += 16) {
      const std::string& line = lines[static_cast<std::size_t>(bank) * perBank + 1 + offset / 16];
      std::string start = ":10";
      for (int shift = 12; shift >= 0; shift -= 4) start += kDigits[(offset >> shift) & 0xF];
      start += "00";
      ASSERT_EQ(line.substr(0, 9), start) << "bank " << bank;
      ASSERT_EQ(line.size(), 1 + 2 * (1 + 2 + 1 + 16 + 1)) << line;
    }
  }
  EXPECT_EQ(lines.back(), ":00000001FF");
}

INSTANTIATE_TEST_SUITE_P(Golden, GoldenSegmentRecords,
                         ::testing::Values(BankedDevice{"Device27512", 0xFFFF, 1},
                                           BankedDevice{"Device27C010", 0x1FFFF, 2},
                                           BankedDevice{"Device256K", 0x3FFFF, 4}),
                         [](const ::testing::TestParamInfo<BankedDevice>& p) {
                           return p.param.name;
                         });

// The all-FF 27C010: its first lines, the lines around the first bank boundary and its last
// lines, against the golden excerpt.
TEST(GoldenExcerpt, Intel27C010AroundTheBankBoundaries) {
  const std::vector<std::string> lines =
      crLfLines(hexFileText(imageFor(0x1FFFF, 0xFF), FileFormat::IntelHex));
  ASSERT_EQ(lines.size(), 8196u);
  // Line 0 the first segment record, 1..4096 bank 0, 4097 the segment record of bank 1,
  // 4098..8193 bank 1, 8194 the segment record of bank 2, 8195 the end record.
  const std::size_t excerptLines[] = {0, 1, 4095, 4096, 4097, 4098, 4099, 8193, 8194, 8195};
  const std::vector<std::string> excerpt = crLfLines(golden("27c010-ff-intel-excerpt.hex"));
  ASSERT_EQ(excerpt.size(), std::size(excerptLines));
  for (std::size_t i = 0; i < excerpt.size(); ++i) {
    EXPECT_EQ(lines[excerptLines[i]], excerpt[i]) << "line " << excerptLines[i];
  }
}

TEST(GoldenExcerpt, Motorola27C010RecordAt10000) {
  const std::vector<std::string> lines =
      crLfLines(hexFileText(imageFor(0x1FFFF, 0xFF), FileFormat::MotorolaHex));
  ASSERT_EQ(lines.size(), 8193u);
  EXPECT_EQ(lines[0x10000 / 16], "S214010000FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFA");
  EXPECT_EQ(lines.back(), "S804000000FB");
}

}  // namespace
}  // namespace tandra::test
