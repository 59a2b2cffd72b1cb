// Every image file format, through everything that names it: tandra-cli's words, a save and a
// load by name and by content, the record's schema, the bash completion and the package texts.
// A format added to the table and left out of any of them fails here, by its word.
#include <fstream>
#include <regex>
#include <set>

#include "CliFixture.h"
#include "cli/ImageFiles.h"
#include "common/InputFile.h"
#include "files/FileFormat.h"
#include "files/FormatGuess.h"
#include "files/Savers.h"
#include "image/ImageBuffer.h"

namespace tandra::test {
namespace {

std::string sourceText(const std::string& file) {
  std::ifstream in(std::string(TANDRA_SOURCE_TREE) + "/" + file, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_FALSE(text.empty()) << file;
  // Line breaks and indents as single spaces, a manual page's "\-" as "-": a name may be
  // wrapped.
  text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
  return std::regex_replace(text, std::regex("\\s+"), " ");
}

std::set<std::string> tableWords() {
  std::set<std::string> words;
  for (const FileFormatInfo& info : fileFormats()) words.emplace(info.word);
  return words;
}

std::set<std::string> wordsOf(const nlohmann::json& list) {
  std::set<std::string> words;
  for (const auto& word : list) words.insert(word.get<std::string>());
  return words;
}

// A file saved for a 64 KiB chip, loaded for a 32 KiB one: records past its end fold onto it.
bool foldsOntoTheDevice(const FileFormatInfo& info, const std::filesystem::path& folder) {
  ImageBuffer wide;
  wide.deviceEndAddress = 0xFFFF;
  wide[0x8010] = 0x5A;
  const std::string path = (folder / ("wide" + std::string(info.extensions[0]))).string();
  std::ofstream(path, std::ios::binary) << savedBytes(wide, info.format);
  ImageBuffer narrow;
  narrow.deviceEndAddress = 0x7FFF;
  const LoadReport report = loadImageFile(narrow, path, info.format);
  return report.firstFoldedAddress >= 0 && narrow[0x0010] == 0x5A;
}

class FileFormats : public CliFixture {};

TEST_F(FileFormats, EveryFormatSavesLoadsAndIsNamedAlike) {
  const nlohmann::json original = runJson({"checksum", "-d", "27C256", path("image.bin")});
  ASSERT_TRUE(original["checksum"].is_string());
  for (const FileFormatInfo& info : fileFormats()) {
    const std::string word(info.word);
    SCOPED_TRACE(word);
    bool valid = false;
    EXPECT_EQ(cli::parseFormat(word, &valid), info.format);
    EXPECT_EQ(fileFormatOfCode(static_cast<int>(info.format)), &info);
    // Saved by tandra-cli under the format's own name, then read back by its name and content
    // and as asked: the same bytes, read in the format, with nothing to note.
    const std::string file = path("saved" + std::string(info.extensions[0]));
    const nlohmann::json saved =
        runJson({"convert", "-d", "27C256", path("image.bin"), file, "--out-format", word});
    EXPECT_EQ(code_, 0) << err_.str();
    EXPECT_EQ(saved["output"]["format"], word);
    for (const std::string& asked : {std::string("auto"), word}) {
      const nlohmann::json read = runJson({"checksum", "-d", "27C256", file, "--format", asked});
      EXPECT_EQ(code_, 0) << err_.str();
      EXPECT_EQ(read["input"]["format"], word) << asked;
      EXPECT_EQ(read["input"]["notes"], "") << asked;
      EXPECT_EQ(read["checksum"], original["checksum"]) << asked;
    }
    EXPECT_EQ(foldsOntoTheDevice(info, folder_), info.folds);
  }
  EXPECT_EQ(fileFormatOfCode(static_cast<int>(fileFormats().size())), nullptr);

  // The record's schema, the completion and the package texts know every format and no other.
  std::ifstream schemaFile(std::string(TANDRA_SOURCE_TREE) + "/doc/tandra-cli-record.schema.json");
  const nlohmann::json schema = nlohmann::json::parse(schemaFile);
  for (const char* key : {"input", "output"}) {
    EXPECT_EQ(wordsOf(schema["properties"][key]["oneOf"][1]["properties"]["format"]["enum"]),
              tableWords())
        << key;
  }
  const std::string completion = sourceText("completion/tandra-cli");
  std::smatch offered;
  ASSERT_TRUE(
      std::regex_search(completion, offered,
                        std::regex(R"re(--format \| --out-format\) .*?compgen -W "([^"]*)")re")));
  std::set<std::string> words = tableWords();
  words.insert("auto");
  std::istringstream list(offered[1].str());
  EXPECT_EQ(std::set<std::string>(std::istream_iterator<std::string>(list), {}), words);
  for (const char* text : {"packaging/org.tandra.TandraUSB.metainfo.xml",
                           "cmake/DebianPackages.cmake", "doc/tandra-cli.1", "README.md"}) {
    const std::string said = sourceText(text);
    for (const FileFormatInfo& info : fileFormats()) {
      EXPECT_NE(said.find(info.name), std::string::npos) << text << " lacks " << info.name;
    }
  }
}

// A file of one text format read as another is read as what it is, said, and named so: never
// recorded in the format asked. The wrong word is refused in the option that had it.
TEST_F(FileFormats, AFileOfAnotherFormatThanAskedIsNamedAsWhatItIs) {
  ASSERT_EQ(run({"convert", "-d", "27C256", path("image.bin"), path("two.hex")}), 0);
  nlohmann::json read = runJson({"checksum", "-d", "27C256", path("two.hex"), "--format", "srec"});
  EXPECT_NE(code_, 0);
  EXPECT_NE(read.dump().find("not S-records as asked"), std::string::npos) << read.dump();
  read = runJson({"checksum", "-d", "27C256", path("two.hex"), "--format", "srec", "--force"});
  EXPECT_EQ(code_, 0) << err_.str();
  EXPECT_EQ(read["input"]["format"], "intel");
  EXPECT_EQ(read["input"]["notes"],
            "The file is Intel Hex, not S-records as asked: it was read as "
            "Intel Hex.");

  EXPECT_NE(
      run({"convert", "-d", "27C256", path("image.bin"), path("x.hex"), "--out-format", "ihex"}),
      0);
  EXPECT_TRUE(says("--out-format takes " + formatWords() + " or auto, not 'ihex'")) << err_.str();
}

}  // namespace
}  // namespace tandra::test
