#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/Loaders.h"
#include "image/ImageBuffer.h"

namespace tandra {

// The text loader: one line at a time (CR, LF or CR LF end a line, Ctrl-Z ends the text),
// dispatched on the line's first character to the Intel, S-record or Ascii hex parser.
class TextLoader {
 public:
  // `asked`: the text format the operator chose; lines of another format are read all the same,
  // and the report says so.
  TextLoader(ImageBuffer& image, LoadReport& report, std::optional<FileFormat> asked = std::nullopt)
      : image_(image), report_(report), asked_(asked) {}

  // Reads records up to the end record or the end of the text.
  void load(std::istream& in);
  // After the load. After an end record: whether records follow it, as when two files were
  // joined, or only padding (NUL and FF bytes, blank lines, a Ctrl-Z). Without one: what the
  // text lacked at its end (no end record, a Ctrl-Z with more after it). Looks no further than
  // the first byte that is no padding.
  void lookPastEnd(std::istream& in);
  long linesRead() const { return lineNumber_; }
  // After the load: which format it read, and the first line of another than the one asked.
  void judgeFormat();
  // The addresses stored so far, as runs [first, end), lowest first.
  std::vector<std::pair<std::int64_t, std::int64_t>> storedRanges() const;

 private:
  bool readLine(std::istream& in);
  // The first line may begin with a byte-order mark: UTF-8's is passed over, UTF-16's refused.
  void passByteOrderMark();
  bool refill(std::streambuf& buffer);
  int peek(std::streambuf& buffer);
  void dispatch();
  void dispatchSRecord();
  // Which kinds of line a file holds: an Ascii hex line among records is noted.
  void countLine(bool intel, bool sRecord, bool asciiHex);
  // After a load that no end record ended: what its end says.
  void noteMissingEnd(std::istream& in);
  // Whether anything but padding follows where the text ended.
  bool moreFollows(std::istream& in);
  void Read_Intel_Record();
  void Read_S_Record();
  void Read_Count_Record();
  void Read_Ascii_Hex_Line();
  void Store_Record_Data();

  // Takes a field of up to `digits` hexadecimal digits from the front of the rest of the line.
  std::uint32_t hexField(std::size_t digits);
  // A data byte: a two-digit field.
  std::uint8_t dataByte();
  // Whether the record in `digits` (the line after its start code and type) sums right.
  static bool checksumGood(std::string_view digits, bool intel);
  void noteBadChecksum();
  void noteBadAddressRecord();
  void storeByte(std::int64_t address, std::uint8_t value, bool folded = false);
  void noteFormat();

  ImageBuffer& image_;
  LoadReport& report_;
  std::optional<FileFormat> asked_;
  // The format of the line being read, and the first line of each format that stored a byte.
  FileFormat lineFormat_ = FileFormat::AsciiHex;
  std::vector<std::pair<FileFormat, long>> firstStoringLines_;
  // Which buffer addresses this load has stored, and which of them a folded record stored.
  static constexpr std::uint8_t kStored = 1;
  static constexpr std::uint8_t kStoredByFold = 2;
  std::vector<std::uint8_t> stores_ = std::vector<std::uint8_t>(ImageBuffer::kSize);

  static constexpr std::size_t kChunkSize = 65536;
  std::vector<char> chunk_ = std::vector<char>(kChunkSize);
  std::size_t chunkPos_ = 0;
  std::size_t chunkLength_ = 0;

  std::string line_;
  std::string_view rest_;
  long lineNumber_ = 0;
  bool endOfText_ = false;
  long ctrlZLine_ = 0;  // the line a Ctrl-Z ended the text on

  // The lines of each kind so far, and the first Ascii hex line that stored a byte.
  long intelLines_ = 0;
  long sRecordLines_ = 0;
  std::int64_t sDataRecords_ = 0;
  long countRecords_ = 0;
  long firstAsciiHexLine_ = 0;

  std::int64_t loadAddress_ = 0;
  std::int64_t segmentBase_ = 0;
  std::int64_t linearBase_ = 0;
  bool endFlag_ = false;
  std::int64_t recordByteCount_ = 0;
  unsigned sRecordType_ = 0;
};

}  // namespace tandra
