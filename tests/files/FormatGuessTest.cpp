// The format a file is read in when none is asked for, the same in the window and tandra-cli:
// its content first, then its name; what neither reading would do right is refused by name.
#include "FileTestSupport.h"
#include "common/InputFile.h"
#include "files/FormatGuess.h"

namespace tandra::test {
namespace {

TEST(FormatGuess, ContentThenNameChoosesAndWhatWouldBeMisreadIsRefused) {
  const std::string binary("\x00\x01\xFE\x80\x41", 5);
  const std::string utf16Intel(
      "\xFF\xFE:\0"
      "1\0"
      "0\0\r\0\n\0",
      12);
  const std::string utf16NoMark(
      ":\0"
      "1\0"
      "0\0"
      "0\0",
      8);
  const std::string utf16 =
      "The file is UTF-16 text, which this program does not read: save "
      "it as ASCII (or UTF-8) text";
  const std::string elf(
      "\x7F"
      "ELF\x02\x01\x01\0\0\0",
      10);
  const std::string elfMessage =
      "This is an ELF executable, not an image: objcopy -O ihex FILE OUT.hex makes one";
  const std::string windows =
      "MZ" + std::string(0x3A, '\0') + std::string("\x40\0\0\0PE\0\0\x4C\x01", 10);
  const auto archive = [](const std::string& kind) {
    return "This is a " + kind + " archive, not an image: unpack it and load the image it holds";
  };
  struct Case {
    const char* name;
    std::string head;
    std::string path;
    std::optional<FileFormat> asked;
    std::string chosen;  // "format: how", or the error
  };
  const Case cases[] = {
      {"Intel by content", ":020000001122CB\r\n", "rom", {}, "1: by content"},
      {"S-records by content", "S10500001122C7\r\n", "rom", {}, "2: by content"},
      {"Ascii hex by content", "00112233\r\n", "-", {}, "3: by content"},
      {"binary by content", binary, "rom", {}, "0: by content"},
      {"binary named binary", binary, "rom.img", {}, "0: by the extension .img"},
      {"marked UTF-8 Intel", "\xEF\xBB\xBF:020000001122CB\r\n", "rom.hex", {}, "1: by content"},
      {"text of no kind, named", "; a comment\r\n", "rom.S19", {}, "2: by the extension .s19"},
      {"empty, named", "", "rom.hex", {}, "1: by the extension .hex"},
      {"empty, unnamed", "", "-", {}, "0: as the default"},
      {"binary named Intel",
       binary,
       "rom.hex",
       {},
       "The file's name says Intel Hex (.hex), but the file looks binary"},
      {"binary named S-records",
       binary,
       "rom.srec",
       {},
       "The file's name says Motorola Hex (.srec), but the file looks binary"},
      {"binary named Ascii hex",
       binary,
       "dump.txt",
       {},
       "The file's name says Ascii Hex (.txt), but the file looks binary"},
      {"binary named text, asked binary", binary, "rom.hex", FileFormat::Binary, "0: as asked"},
      {"UTF-16 with a mark", utf16Intel, "rom.hex", {}, utf16},
      {"UTF-16 without a mark", utf16NoMark, "rom.bin", {}, utf16},
      {"UTF-16, asked Intel", utf16Intel, "rom.hex", FileFormat::IntelHex, utf16},
      {"UTF-16, asked binary", utf16Intel, "rom.hex", FileFormat::Binary, "0: as asked"},
      // A name that says binary is read as binary, whatever the content looks like.
      {"Intel named binary", ":020000001122CB\r\n", "rom.bin", {}, "0: by the extension .bin"},
      {"digits named binary", "00112233\r\n", "rom.BIN", {}, "0: by the extension .bin"},
      // Executables and archives hold an image only once a tool has taken it out.
      {"ELF", elf, "low64.elf", {}, elfMessage},
      {"ELF named binary", elf, "low64.bin", {}, elfMessage},
      {"ELF, asked Intel", elf, "low64.elf", FileFormat::IntelHex, elfMessage},
      {"ELF, asked binary", elf, "low64.elf", FileFormat::Binary, "0: as asked"},
      {"Windows executable",
       windows,
       "tool.exe",
       {},
       "This is a Windows executable, not an image: the programmer takes the image a build makes "
       "for the chip (.hex, .s19 or .bin)"},
      {"zip archive", std::string("PK\x03\x04\x14\0\0\0", 8), "rom.zip", {}, archive("zip")},
      {"gzip archive", std::string("\x1F\x8B\x08\0\0\0", 6), "rom.hex.gz", {}, archive("gzip")},
      {"\"MZ\" alone is an image's bytes",
       std::string("MZ\x90\0\x03\0\xFF", 7),
       "-",
       {},
       "0: by content"},
      // Nothing after a Ctrl-Z is read, nor looked at; padding after the end record and text in
      // UTF-8 are text.
      {"Ctrl-Z, then anything",
       std::string(":00000001FF\r\n\x1A\x80\x00\x01\xFE", 18),
       "rom.hex",
       {},
       "1: by content"},
      {"Ascii hex, Ctrl-Z, then anything",
       std::string("0102\r\n\x1A\x80\x00", 9),
       "dump.txt",
       {},
       "3: by content"},
      {"NULs after the end",
       std::string(":00000001FF\r\n\0\0\0\0", 17),
       "rom.hex",
       {},
       "1: by content"},
      {"FFs after the end", ":00000001FF\r\n\xFF\xFF\xFF", "-", {}, "1: by content"},
      {"form feed", ":020000001122CB\r\n\f\r\n:00000001FF\r\n", "rom.hex", {}, "1: by content"},
      {"µ after an S0 header",
       "S00600004844521B µ\r\nS9030000FC\r\n",
       "rom.s19",
       {},
       "2: by content"},
      {"a comment of UTF-8 before Intel records",
       "; µ\r\n:00000001FF\r\n",
       "-",
       {},
       "1: by content"},
      {"a NUL inside the records",
       std::string(":020000001122CB\r\n:0200\0", 23),
       "rom.hex",
       {},
       "1: by content"},
      {"bytes that are no UTF-8",
       "; \xB5\r\n:00000001FF\r\n",
       "rom.hex",
       {},
       "The file's name says Intel Hex (.hex), but the file looks binary"},
      // An image may begin with the bytes of a mark: only text after it makes it text.
      {"binary beginning FF FE",
       std::string("\xFF\xFE\x00\x9C\x12\x34", 6),
       "-",
       {},
       "0: by content"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string chosen;
    try {
      const FormatChoice choice = chooseInputFormat(lookOf(c.head), c.path, c.asked);
      chosen = std::to_string(static_cast<int>(choice.format)) + ": " + choice.how;
    } catch (const FileError& error) {
      chosen = error.what();
    }
    EXPECT_EQ(chosen, c.chosen);
  }
}

// Read in a format the content disagrees with, a file is loaded as asked and the disagreement
// told: a note of the load, or the hint of its error.
TEST(FormatGuess, AFormatTheContentDisagreesWithIsTold) {
  ScratchFolder folder;
  writeFile(folder.file("rom.hex"), ":020000001122CB\r\n:00000001FF\r\n");
  writeFile(folder.file("rom.bin"), std::string("\x00\x01\xFE\x80\x41\r\n", 7));
  writeFile(folder.file("digits.txt"), "00112233\r\n");
  ImageBuffer image = imageFor(0x7FFF);
  EXPECT_EQ(loadImageFile(image, folder.file("rom.hex"), FileFormat::Binary).notes(),
            "The file looks like Intel Hex, not binary.");
  EXPECT_EQ(image[0], ':');
  // Digits may be an image's own bytes: read as binary when asked, without a word.
  EXPECT_EQ(loadImageFile(image, folder.file("digits.txt"), FileFormat::Binary).notes(), "");
  try {
    loadImageFile(image, folder.file("rom.bin"), FileFormat::IntelHex);
    ADD_FAILURE() << "no error";
  } catch (const FileError& error) {
    EXPECT_EQ(error.hint(), "The file looks binary, not like Intel Hex.");
    EXPECT_EQ(errorBoxText(error), "'$\\x00\\x01' is not a valid integer value.\n" +
                                       folder.file("rom.bin") +
                                       "\nThe file looks binary, not like Intel Hex.");
  }
  FormatChoice chosen;
  EXPECT_EQ(loadImageFile(image, folder.file("rom.hex"), std::nullopt, &chosen).notes(), "");
  EXPECT_EQ(chosen.format, FileFormat::IntelHex);
  EXPECT_EQ(image[1], 0x22);
  // A name that says binary is read as binary; records in it are told.
  writeFile(folder.file("records.bin"), ":020000001122CB\r\n:00000001FF\r\n");
  EXPECT_EQ(loadImageFile(image, folder.file("records.bin"), std::nullopt).notes(),
            "The file's name says binary (.bin), but the file looks like Intel Hex: it was read "
            "as binary.");
  EXPECT_EQ(image[1], '0');
  // An executable read as binary when asked: told as records are.
  writeFile(folder.file("low64.elf"), std::string("\x7F"
                                                  "ELF\x02\x01\x01\0",
                                                  8));
  EXPECT_EQ(loadImageFile(image, folder.file("low64.elf"), FileFormat::Binary).notes(),
            "The file looks like an ELF executable, not binary.");
}

}  // namespace
}  // namespace tandra::test
