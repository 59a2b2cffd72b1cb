// What tandra-cli makes of the file it is given: read as the window reads it, refused where
// reading it would burn something other than what the file means, every refusal and note said.
#include "CliFixture.h"
#include "TestPipes.h"

namespace tandra::test {
namespace {

class InputFilesTest : public CliFixture {
 protected:
  InputFilesTest() {
    run({"convert", "-d", "27C256", path("image.bin"), path("image.hex")});
    std::ifstream hex(path("image.hex"), std::ios::binary);
    intel_.assign(std::istreambuf_iterator<char>(hex), {});
  }
  std::string intel_;
};

// Text in UTF-16, two bytes a character, low byte first, after its mark.
std::string utf16(const std::string& text) {
  std::string wide = "\xFF\xFE";
  for (char c : text) wide += std::string{c, '\0'};
  return wide;
}

TEST_F(InputFilesTest, AMarkOfUtf8BeforeTheRecordsIsPassedOver) {
  write("bom.hex", "\xEF\xBB\xBF" + intel_);
  EXPECT_EQ(run({"program", "-d", "27C256", path("bom.hex")}), 0) << err_.str();
  EXPECT_TRUE(says("as intel (by content)"));
  EXPECT_TRUE(chipHoldsTheImage(1));
}

TEST_F(InputFilesTest, FilesThatWouldBeMisreadOrSetNothingAreRefusedWithTheReason) {
  const std::string binary(image_.begin(), image_.end());
  const std::string badChecksum = ":10000000000102030405060708090A0B0C0D0E0F00\r\n";
  const std::string elf(
      "\x7F"
      "ELF\x02\x01\x01\0",
      8);
  const std::string elfMessage =
      "This is an ELF executable, not an image: objcopy -O ihex FILE OUT.hex makes one.";
  struct Case {
    const char* name;
    std::string file;
    std::string bytes;
    std::vector<std::string> arguments;  // FILE stands for the file
    int exitCode;
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {"UTF-16",
       "utf16.hex",
       utf16(":020000001122CB\r\n"),
       {"program", "FILE"},
       2,
       {"UTF-16 text"}},
      {"binary named Intel Hex",
       "rom.hex",
       binary,
       {"program", "FILE"},
       2,
       {"The file's name says Intel Hex (.hex), but the file looks binary.",
        "--format bin reads it as binary"}},
      {"binary named Intel Hex, asked binary",
       "rom.hex",
       binary,
       {"program", "FILE", "--format", "bin"},
       0,
       {"as bin (as asked)"}},
      {"binary read as Intel Hex",
       "rom.bin",
       binary,
       {"program", "FILE", "--format", "intel"},
       2,
       {"The file looks binary, not like Intel Hex: --format bin?"}},
      {"Intel Hex read as binary",
       "rom.hex",
       intel_,
       {"program", "FILE", "--format", "bin"},
       2,
       {"The file looks like Intel Hex, not binary."}},
      {"empty Intel Hex", "empty.hex", "", {"program", "FILE"}, 2, {"The file sets no byte."}},
      {"empty binary", "empty.bin", "", {"verify", "FILE"}, 2, {"The file sets no byte."}},
      {"end record only",
       "end.hex",
       ":00000001FF\r\n",
       {"compare", "FILE"},
       2,
       {"The file sets no byte."}},
      {"convert, wrong checksum",
       "sum.hex",
       badChecksum,
       {"convert", "FILE", path("out.bin")},
       2,
       {"wrong checksum", "not converted (--force goes on all the same)"}},
      {"convert, forced",
       "sum.hex",
       badChecksum,
       {"convert", "FILE", path("out.bin"), "--force"},
       0,
       {"wrong checksum"}},
      {"checksum, empty",
       "empty.bin",
       "",
       {"checksum", "FILE"},
       2,
       {"The file sets no byte.", "not checksummed"}},
      {"checksum, forced", "empty.bin", "", {"checksum", "FILE", "--force"}, 0, {"CheckSum=0000"}},
      // What was noted before a load failed is said too, not only in the record.
      {"notes before an error",
       "noted.hex",
       badChecksum + "G1\r\n",
       {"verify", "FILE"},
       2,
       {"wrong checksum; the first is on line 1", "(" + path("noted.hex") + ", line 2)"}},
      {"folded records",
       "high.hex",
       ":02800000AABB19\r\n:00000001FF\r\n",
       {"checksum", "FILE"},
       0,
       {"were folded onto it: the first, at 08000, was stored at 00000."}},
      // An executable is no image, and a name that says binary is read as binary.
      {"ELF", "low64.elf", elf, {"program", "FILE"}, 2, {elfMessage}},
      {"ELF, asked binary",
       "low64.elf",
       elf,
       {"program", "FILE", "--format", "bin"},
       2,
       {"The file looks like an ELF executable, not binary."}},
      {"digits named binary",
       "digits.bin",
       "00112233\r\n",
       {"program", "FILE"},
       2,
       {"as bin (by the extension .bin)",
        "The file's name says binary (.bin), but the file looks like Ascii hex: it was read as "
        "binary. --format ascii reads it as Ascii hex."}},
      {"records named binary",
       "records.bin",
       intel_,
       {"convert", "FILE", path("out.bin")},
       2,
       {"--format intel reads it as Intel Hex."}},
      // What follows the end record is read no further than padding, and never past a Ctrl-Z.
      {"Ctrl-Z and bytes after the end",
       "junk.hex",
       intel_ + "\x1A" + binary,
       {"program", "FILE"},
       0,
       {"as intel (by content)"}},
      {"NULs after the end",
       "nuls.hex",
       intel_ + std::string(300, '\0'),
       {"program", "FILE"},
       0,
       {"followed by padding (NUL or FF bytes), which was passed over"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write(c.file, c.bytes);
    std::vector<std::string> arguments{c.arguments.front(), "-d", "27C256"};
    for (std::size_t i = 1; i < c.arguments.size(); ++i) {
      arguments.push_back(c.arguments[i] == "FILE" ? path(c.file) : c.arguments[i]);
    }
    programmer_.clearPackets();
    EXPECT_EQ(run(arguments), c.exitCode) << err_.str();
    for (const std::string& text : c.said) EXPECT_TRUE(says(text)) << text << "\n" << err_.str();
    if (c.exitCode == 2) {
      EXPECT_TRUE(programmer_.packets().empty()) << "the programmer was reached";
    }
  }
}

TEST_F(InputFilesTest, AnEmptyPipeIsNotAnImage) {
  int ends[2];
  ASSERT_EQ(openPipe(ends), 0);
  ::close(ends[1]);  // as `false | tandra-cli program ... -`
  cli::CliIo io(out_, err_);
  io.driver = &programmer_;
  io.inputDescriptor = ends[0];
  EXPECT_EQ(cli::runCli({"program", "-d", "27C256", "-n", "2", "-"}, io), 2);
  ::close(ends[0]);
  EXPECT_TRUE(says("The file sets no byte.")) << err_.str();
  EXPECT_TRUE(programmer_.packets().empty());
}

}  // namespace
}  // namespace tandra::test
