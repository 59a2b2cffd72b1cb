// Files from the wild: what other people's tools write (srec_cat, objcopy and xxd make them here,
// from one image), and files damaged as such files are, each through tandra-cli's convert and
// through the window's loader (the dropped file's own format, or the Load button's). Where
// srec_cat reads a file and this program takes it, the bytes are srec_cat's; a file srec_cat
// reads without a warning is refused only for a reason decided here; a refusal names its
// reason in both programs; and every "--format X" a refusal suggests is followed, and reads the
// bytes srec_cat (or xxd) reads in that format. The counts are printed.
#if !defined(_WIN32)
#include <sys/wait.h>
#endif

#include <cstdio>

#include "CliFixture.h"
#include "DeviceTypes.h"
#include "TestHost.h"
#include "cli/ImageFiles.h"
#include "common/FileError.h"
#include "common/InputFile.h"
#include "device/Session.h"

namespace tandra::test {
namespace {

struct CorpusFile {
  std::string name;
  std::string make;          // a shell command that writes it in the folder, or ""
  std::string bytes;         // its bytes when `make` is empty
  std::string readAs;        // srec_cat's format word, or "xxd" for Ascii hex
  std::string refusal = {};  // what a refusal must say; "" when the file must be read
  std::string decided = {};  // why it is refused although srec_cat reads it without a warning
  std::string device = "27C256";
  std::string asked = {};  // the format asked for (--format, the Load button), "" for none
};

const std::string kEnd = ":00000001FF\n";
// 16 bytes at 0 and 16 at 0x10, the first records of a file.
const std::string kIntel =
    ":10000000000102030405060708090A0B0C0D0E0F78\n:10001000101112131415161718191A1B1C1D1E1F68\n";

std::vector<CorpusFile> corpus() {
  const std::string sc = "srec_cat image.bin -binary ";
  const std::string elf = "objcopy -I binary -O elf64-x86-64 image.bin ";
  return {
      // Written whole by the tools.
      {"linear.hex", sc + "-o linear.hex -Intel", "", "-Intel"},
      {"segment.hex", sc + "-o segment.hex -Intel -address-length=3 -obs 32 -crlf", "", "-Intel",
       "", "", "27C010"},
      {"holes.hex", sc + "-crop 0 0x100 0x4000 0x4123 -o holes.hex -Intel", "", "-Intel"},
      {"start.hex", sc + "-o start.hex -Intel -execution-start-address 0x1234", "", "-Intel"},
      {"s19.s19", sc + "-o s19.s19 -Motorola -address-length=2", "", "-Motorola"},
      {"s28.s28", sc + "-o s28.s28 -Motorola -address-length=3 -obs 32", "", "-Motorola", "", "",
       "27C010"},
      {"s37.s37", sc + "-o s37.s37 -Motorola -address-length=4 -execution-start-address 0", "",
       "-Motorola"},
      {"uncounted.s19", sc + "-o uncounted.s19 -Motorola -disable=data-count", "", "-Motorola"},
      {"objcopy.hex", "objcopy -I binary -O ihex image.bin objcopy.hex", "", "-Intel"},
      {"objcopy.srec", "objcopy -I binary -O srec image.bin objcopy.srec", "", "-Motorola", "", "",
       "27C512"},
      {"objcopy-s3.srec", "objcopy -I binary -O srec --srec-forceS3 image.bin objcopy-s3.srec", "",
       "-Motorola"},
      {"elf.hex", elf + "e.elf && objcopy -O ihex e.elf elf.hex", "", "-Intel"},
      {"dump.txt", "xxd -p image.bin dump.txt", "", "xxd"},
      // Padded as tools that fill a block pad, or as a CP/M file ends.
      {"nuls.hex", sc + "-o nuls.hex -Intel && truncate -s %8192 nuls.hex", "", "-Intel"},
      {"ctrl-z.hex", sc + "-o ctrl-z.hex -Intel && printf '\\032\\001\\377junk' >>ctrl-z.hex", "",
       "-Intel"},
      {"form-feed.hex", "", kIntel + "\f\n" + kEnd, "-Intel"},
      // Damaged, or no image at all.
      {"lost-colon.hex", "", ":040000001122334452\n04000400556677883E\n" + kEnd, "-Intel",
       "a lost ':'?"},
      {"short-base.hex", "", ":00000002FE\n:0100000011EE\n" + kEnd, "-Intel",
       "holds 0 bytes, not 2"},
      {"no-end.hex", sc + "-o no-end.hex -Intel -disable=footer", "", "-Intel", "No end record"},
      {"cut.hex", sc + "-o whole.hex -Intel && head -n 100 whole.hex >cut.hex", "", "-Intel",
       "No end record"},
      {"stray-ctrl-z.hex", "", kIntel + "\x1A" + kIntel + kEnd, "-Intel", "A Ctrl-Z on line 3"},
      {"miscounted.s19", "", "S1070000112233444E\nS5030002FA\n", "-Motorola", "counts 2"},
      {"checksum.hex", "", ":0400000011223344AE\n" + kEnd, "-Intel", "wrong checksum"},
      {"comment.hex", "",
       "; made by hand, \xC2\xB5"
       "C\n" +
           kIntel + kEnd,
       "-Intel", "not a valid integer value"},
      {"low64.elf", elf + "low64.elf", "", "-binary", "an ELF executable",
       "an executable is no image; objcopy makes one"},
      {"image.hex.gz", sc + "-o i.hex -Intel && gzip -c i.hex >image.hex.gz", "", "-binary",
       "a gzip archive", "an archive is no image"},
      {"digits.bin", "", "00112233445566778899\n", "-binary", "looks like Ascii hex",
       "a name that says binary is read as binary; text the loader reads in it is told"},
      {"records.bin", "", kIntel + kEnd, "-binary", "looks like Intel Hex",
       "a name that says binary is read as binary; text the loader reads in it is told"},
      {"binary.hex", "cp image.bin binary.hex", "", "-binary", "but the file looks binary",
       "a name that says text with binary inside is read neither way unasked"},
      {"asked-intel.bin", "cp image.bin asked-intel.bin", "", "-binary", "looks binary",
       "binary read as Intel Hex, as asked, fails at its first line", "27C256", "intel"},
      {"asked-bin.hex", sc + "-o asked-bin.hex -Intel", "", "-Intel", "looks like Intel Hex",
       "records read as binary, as asked, are told", "27C256", "bin"},
  };
}

struct Shell {
  int status;
  std::string errors;
};

class InteropCorpusTest : public CliFixture {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    // The tools that make and read the corpus are the build machine's, run by its POSIX shell.
    GTEST_SKIP() << "srec_cat, objcopy and xxd are tools of the build machine's, not of Windows";
#endif
    for (const char* tool : {"srec_cat", "objcopy", "xxd", "gzip"}) {
      if (std::system(("command -v " + std::string(tool) + " >/dev/null").c_str()) != 0) {
        GTEST_SKIP() << tool << " not installed (./build.sh test installs it)";
      }
    }
  }
  Shell shell(const std::string& command) {
    const std::string line = "cd '" + folder_.string() + "' && ( " + command + " ) 2>errors.txt";
    const int status = std::system(line.c_str());
    std::ifstream in(path("errors.txt"));
#if defined(_WIN32)
    const int code = status;
#else
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    return {code, {std::istreambuf_iterator<char>(in), {}}};
  }
  std::string bytesOf(const std::string& name) {
    std::ifstream in(path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  // What srec_cat (or xxd) reads from the file in `readAs`, over a device of `size` bytes
  // filled with FF; the status and the warnings or error said.
  Shell reference(const std::string& name, const std::string& readAs, std::size_t size,
                  std::string* bytes) {
    const std::string range = " 0 " + std::to_string(size);
    const Shell read = readAs == "xxd"
                           ? shell("xxd -r -p " + name + " reference.bin")
                           : shell("srec_cat " + name + " " + readAs + " -crop" + range +
                                   " -fill 0xFF" + range + " -o reference.bin -binary");
    *bytes = read.status == 0 ? bytesOf("reference.bin") : "";
    if (read.status == 0) bytes->resize(size, '\xFF');
    std::remove(path("reference.bin").c_str());
    return read;
  }
  // convert, as a script runs it: the exit code, what it said, and the bytes it wrote.
  int convert(const CorpusFile& c, const std::string& format, std::string* bytes, bool force) {
    std::vector<std::string> arguments{
        "convert", "-d", c.device,       path(c.name), path("out.bin"),
        "--fill",  "FF", "--out-format", "bin"};
    if (!format.empty()) arguments.insert(arguments.end(), {"--format", format});
    if (force) arguments.push_back("--force");
    std::remove(path("out.bin").c_str());
    const int code = run(arguments);
    *bytes = code == 0 ? bytesOf("out.bin") : "";
    return code;
  }
  // The window's loader: the file's own format (a dropped file), or the one chosen.
  bool throughTheWindow(const CorpusFile& c, std::string* told, std::string* bytes) {
    TestHost host;
    VirtualProgrammer programmer{host.clock};
    Session session(programmer, host.events);
    session.chooseType(rowOf(c.device));
    session.fillImage(0xFF);
    const auto size = static_cast<std::size_t>(typeNamed(c.device).size);
    try {
      bool valid = true;
      InputFile file(path(c.name));
      const FormatChoice choice = chooseInputFormat(
          file, path(c.name), c.asked.empty() ? std::nullopt : cli::parseFormat(c.asked, &valid));
      const LoadReport report = session.load(file, c.name, choice);
      *told = report.boxText();
      bytes->assign(reinterpret_cast<const char*>(session.image().data()), size);
      return report.notes().empty();
    } catch (const FileError& error) {
      *told = errorBoxText(error);
      return false;
    }
  }
};

// The format word of the first "--format X" in what convert said; "" when it suggests none.
std::string suggestedFormat(const std::string& said) {
  const std::string option = "--format ";
  const std::size_t at = said.find(option);
  if (at == std::string::npos) return {};
  const std::size_t word = at + option.size();
  return said.substr(word, said.find_first_not_of("abcdefghijklmnopqrstuvwxyz", word) - word);
}

std::string srecCatSays(const Shell& read) {
  if (read.status != 0) return "refuses";
  return read.errors.empty() ? "reads" : "reads with a warning";
}

TEST_F(InteropCorpusTest, EveryFileReadsAsSrecCatReadsItOrIsRefusedForItsReason) {
  std::mt19937 random(38);
  std::string image(0x20000, '\0');
  for (char& b : image) b = static_cast<char>(random());
  int files = 0, agree = 0, refused = 0, hintsFollowed = 0;
  std::string listing;
  for (const CorpusFile& c : corpus()) {
    SCOPED_TRACE(c.name);
    ++files;
    const auto size = static_cast<std::size_t>(typeNamed(c.device).size);
    write("image.bin", image.substr(0, size));
    if (c.make.empty()) {
      write(c.name, c.bytes);
    } else {
      const Shell made = shell(c.make);
      ASSERT_EQ(made.status, 0) << c.make << ": " << made.errors;
    }
    std::string expected, converted, windowBytes, told;
    const Shell srec = reference(c.name, c.readAs, size, &expected);
    const int code = convert(c, c.asked, &converted, false);
    const std::string said = err_.str();
    const bool windowTakes = throughTheWindow(c, &told, &windowBytes);
    EXPECT_EQ(windowTakes, code == 0) << "convert and the window differ:\n" << said << told;
    if (c.refusal.empty()) {
      EXPECT_EQ(code, 0) << said;
      EXPECT_EQ(srec.status, 0) << "srec_cat: " << srec.errors;
      EXPECT_TRUE(converted == expected) << "convert's bytes differ from srec_cat's";
      EXPECT_TRUE(windowBytes == expected) << "the window's bytes differ from srec_cat's";
      agree += code == 0 && converted == expected && windowBytes == expected;
      listing += "  " + c.name + ": agree (srec_cat " + srecCatSays(srec) + ")\n";
    } else {
      EXPECT_EQ(code, 2) << said;
      EXPECT_NE(said.find(c.refusal), std::string::npos) << said;
      EXPECT_NE(told.find(c.refusal), std::string::npos) << told;
      if (srecCatSays(srec) == "reads") {
        EXPECT_FALSE(c.decided.empty()) << "refused, but srec_cat reads it without a warning";
      }
      refused += code == 2;
      listing += "  " + c.name + ": refused, \"" + c.refusal + "\" (srec_cat " + srecCatSays(srec) +
                 (c.decided.empty() ? "" : "; " + c.decided) + ")\n";
    }
    // A suggested format, followed, reads what srec_cat reads in it, or fails: never other bytes.
    if (const std::string word = suggestedFormat(said); !word.empty()) {
      ASSERT_TRUE(word == "bin" || word == "intel" || word == "srec" || word == "ascii") << said;
      const std::string readAs = word == "bin"     ? "-binary"
                                 : word == "intel" ? "-Intel"
                                 : word == "srec"  ? "-Motorola"
                                                   : "xxd";
      std::string hinted, followed;
      reference(c.name, readAs, size, &hinted);
      if (convert(c, word, &followed, true) == 0) {
        EXPECT_TRUE(followed == hinted) << "--format " << word << " reads other bytes";
      }
      ++hintsFollowed;
      listing += "    its hint --format " + word + " followed: " +
                 (followed.empty()     ? "refused"
                  : followed == hinted ? "agrees"
                                       : "DIFFERS") +
                 "\n";
    }
  }
  std::printf(
      "Files from the wild: %d files, %d agree with srec_cat, %d refused, %d hints "
      "followed\n%s",
      files, agree, refused, hintsFollowed, listing.c_str());
  EXPECT_GE(hintsFollowed, 5);
}

}  // namespace
}  // namespace tandra::test
