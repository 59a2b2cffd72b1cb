#include "files/TextLoader.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "common/FileError.h"
#include "common/HexText.h"
#include "files/FormatGuess.h"
#include "image/ImageBuffer.h"

namespace tandra {

namespace {

constexpr int kCtrlZ = 0x1A;

// The value of every character as a hexadecimal digit, -1 for the others: looked up once per
// character of every record.
constexpr std::array<std::int8_t, 256> kDigitValues = [] {
  std::array<std::int8_t, 256> values{};
  for (int c = 0; c < 256; ++c)
    values[static_cast<std::size_t>(c)] =
        static_cast<std::int8_t>(hexDigitValue(static_cast<char>(c)));
  return values;
}();

int digitValue(char c) {
  return kDigitValues[static_cast<unsigned char>(c)];
}
// Room for the largest device's image on one Ascii hex line, twice over; a longer line is no
// image (or has no end, like /dev/zero), and reading on would only fill the memory.
constexpr std::size_t kLongestLine = 1 << 20;

// How far past the end of the text is looked for more than padding: further than any block a
// tool fills, not as far as a device without an end.
constexpr std::size_t kPaddingLookedAt = 1 << 20;

// Blank space, and what tools write to fill a block after the end.
bool isBlank(int c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool isPadding(int c) {
  return isBlank(c) || c == 0x00 || c == 0xFF || c == '\f' || c == '\v';
}

}  // namespace

// The text is taken a chunk at a time and each line cut out of the chunk in one piece: a
// character at a time through the stream costs more than all the parsing after it.
bool TextLoader::refill(std::streambuf& buffer) {
  chunkPos_ = 0;
  chunkLength_ = static_cast<std::size_t>(
      std::max<std::streamsize>(buffer.sgetn(chunk_.data(), kChunkSize), 0));
  return chunkLength_ > 0;
}

int TextLoader::peek(std::streambuf& buffer) {
  if (chunkPos_ == chunkLength_ && !refill(buffer)) return std::char_traits<char>::eof();
  return static_cast<unsigned char>(chunk_[chunkPos_]);
}

bool TextLoader::readLine(std::istream& in) {
  line_.clear();
  std::streambuf& buffer = *in.rdbuf();
  for (;;) {
    if (chunkPos_ == chunkLength_ && !refill(buffer)) {
      endOfText_ = true;
      break;
    }
    const char* begin = chunk_.data() + chunkPos_;
    const char* end = chunk_.data() + chunkLength_;
    const char* stop = std::find_if(begin, end, [](char c) {
      return c == '\r' || c == '\n' || c == static_cast<char>(kCtrlZ);
    });
    if (line_.size() + static_cast<std::size_t>(stop - begin) > kLongestLine) {
      throw FileError("Line " + std::to_string(lineNumber_ + 1) + " is longer than " +
                          std::to_string(kLongestLine) +
                          " characters, the longest line this program reads",
                      lineNumber_ + 1);
    }
    line_.append(begin, stop);
    chunkPos_ += static_cast<std::size_t>(stop - begin);
    if (stop == end) continue;
    ++chunkPos_;
    if (*stop == static_cast<char>(kCtrlZ)) {
      endOfText_ = true;
      ctrlZLine_ = lineNumber_ + 1;
      break;
    }
    if (*stop == '\r' && peek(buffer) == '\n') ++chunkPos_;
    break;
  }
  if (!endOfText_) {
    // A terminator right before the end of the text ends the last line, not an empty one.
    const int next = peek(buffer);
    if (next == std::char_traits<char>::eof() || next == kCtrlZ) endOfText_ = true;
    if (next == kCtrlZ) {
      ctrlZLine_ = lineNumber_ + 2;  // the start of the next line
      ++chunkPos_;
    }
  }
  if (in.bad()) throw FileError(ioMessage(100));
  ++lineNumber_;
  return true;
}

void TextLoader::passByteOrderMark() {
  const std::string_view line(line_);
  if (line.starts_with("\xEF\xBB\xBF")) {
    line_.erase(0, 3);  // an editor's mark of UTF-8, before the first record
  } else if (line.starts_with("\xFF\xFE") || line.starts_with("\xFE\xFF")) {
    throw FileError(utf16Message(), lineNumber_);
  }
}

void TextLoader::load(std::istream& in) {
  do {
    readLine(in);
    if (lineNumber_ == 1) passByteOrderMark();
    dispatch();
  } while (!endFlag_ && !endOfText_);
  image_.currentAddress = static_cast<std::int32_t>(
      std::min<std::int64_t>(std::max<std::int64_t>(loadAddress_, 0), INT32_MAX));
}

// Every Intel Hex writer ends with an end record, so a file without one was cut short. S-records
// may carry a count instead; without either, nothing tells, and that is said. A Ctrl-Z that
// stopped the text before all of it is said whatever the records.
void TextLoader::noteMissingEnd(std::istream& in) {
  const bool counted = countRecords_ > 0 && report_.countMismatchLine == 0;
  if (ctrlZLine_ > 0 && !counted && moreFollows(in)) {
    report_.ctrlZLine = ctrlZLine_;
  } else if (intelLines_ > 0) {
    report_.intelEndMissing = true;
  } else if (sDataRecords_ > 0 && countRecords_ == 0) {
    report_.sRecordsUnchecked = true;
  }
}

bool TextLoader::moreFollows(std::istream& in) {
  std::streambuf& buffer = *in.rdbuf();
  for (std::size_t looked = 0; looked < kPaddingLookedAt; ++looked) {
    const int c = peek(buffer);
    if (c == std::char_traits<char>::eof()) return false;
    ++chunkPos_;
    if (!isPadding(c) && c != kCtrlZ) return true;
  }
  return false;
}

void TextLoader::lookPastEnd(std::istream& in) {
  if (!endFlag_) {
    noteMissingEnd(in);
    return;
  }
  if (endOfText_) return;
  std::streambuf& buffer = *in.rdbuf();
  bool padded = false;
  try {
    for (std::size_t looked = 0; looked < kPaddingLookedAt; ++looked) {
      const int c = peek(buffer);
      if (c == std::char_traits<char>::eof() || c == kCtrlZ) break;
      ++chunkPos_;
      if (!isPadding(c)) {
        report_.endRecordLine = lineNumber_;
        return;
      }
      padded = padded || !isBlank(c);
    }
  } catch (const FileError&) {
    report_.endRecordLine = lineNumber_;  // something followed, if unreadable
    return;
  }
  // Blank lines after the end are common and not told; a block filled after it is.
  if (padded) report_.paddingAfterEndLine = lineNumber_;
}

void TextLoader::dispatch() {
  if (line_.empty()) {
    rest_ = {};
    Read_Ascii_Hex_Line();
    return;
  }
  const char lead = line_[0];
  rest_ = std::string_view(line_).substr(1);
  if (lead == ':') {
    lineFormat_ = FileFormat::IntelHex;
    countLine(true, false, false);
    Read_Intel_Record();
  } else if (lead == 'S') {
    dispatchSRecord();
  } else {
    Read_Ascii_Hex_Line();
  }
}

void TextLoader::dispatchSRecord() {
  lineFormat_ = FileFormat::MotorolaHex;
  sRecordType_ = 0;
  if (!rest_.empty()) {
    if (std::isdigit(static_cast<unsigned char>(rest_[0]))) {
      sRecordType_ = static_cast<unsigned>(rest_[0] - '0');
      countLine(false, true, false);
    }
    rest_.remove_prefix(1);
  }
  if (sRecordType_ >= 7 && sRecordType_ <= 9) {
    if (!checksumGood(rest_, false)) noteBadChecksum();
    endFlag_ = true;
  } else if (sRecordType_ >= 1 && sRecordType_ <= 3) {
    ++sDataRecords_;
    Read_S_Record();
  } else if (sRecordType_ == 5 || sRecordType_ == 6) {
    Read_Count_Record();
  }
}

// The file may mix its kinds of line; but an Ascii hex line among records is most likely a
// record that lost its start code, and it stores its digits over the records' bytes.
void TextLoader::countLine(bool intel, bool sRecord, bool asciiHex) {
  if (intel) ++intelLines_;
  if (sRecord) ++sRecordLines_;
  if (asciiHex && firstAsciiHexLine_ == 0) firstAsciiHexLine_ = lineNumber_;
  if (firstAsciiHexLine_ > 0 && report_.asciiLineAmongRecords == 0 &&
      intelLines_ + sRecordLines_ > 0) {
    report_.asciiLineAmongRecords = firstAsciiHexLine_;
    report_.amongIntelRecords = intelLines_ > 0;
  }
}

std::uint32_t TextLoader::hexField(std::size_t digits) {
  const std::string_view field = rest_.substr(0, digits);
  rest_.remove_prefix(field.size());
  if (field.empty()) throw FileError(conversionMessage(field), lineNumber_);
  std::uint32_t value = 0;
  for (char c : field) {
    const int digit = digitValue(c);
    if (digit < 0) throw FileError(conversionMessage(field), lineNumber_);
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return value;
}

std::uint8_t TextLoader::dataByte() {
  // Two digits at hand, the common case, are read here; anything else takes the field rules.
  if (rest_.size() >= 2) {
    const int high = digitValue(rest_[0]);
    const int low = digitValue(rest_[1]);
    if (high >= 0 && low >= 0) {
      rest_.remove_prefix(2);
      return static_cast<std::uint8_t>(high * 16 + low);
    }
  }
  return static_cast<std::uint8_t>(hexField(2));
}

bool TextLoader::checksumGood(std::string_view digits, bool intel) {
  // Intel: byte count, address, type, data and checksum sum to 0. S-record: count, address,
  // data and checksum sum to 0xFF. A record cut short counts as a wrong checksum.
  bool good = digits.size() >= 2;
  unsigned sum = 0;
  if (good) {
    const int high = digitValue(digits[0]), low = digitValue(digits[1]);
    good = high >= 0 && low >= 0;
    const std::size_t count = good ? static_cast<std::size_t>(high * 16 + low) : 0;
    const std::size_t bytes = intel ? count + 5 : count + 1;
    good = good && digits.size() >= bytes * 2;
    for (std::size_t i = 0; good && i < bytes; ++i) {
      const int h = digitValue(digits[2 * i]), l = digitValue(digits[2 * i + 1]);
      good = h >= 0 && l >= 0;
      sum += static_cast<unsigned>(h * 16 + l);
    }
    good = good && (sum & 0xFF) == (intel ? 0x00u : 0xFFu);
  }
  return good;
}

void TextLoader::noteBadChecksum() {
  if (report_.badChecksums++ == 0) report_.firstBadChecksumLine = lineNumber_;
}

void TextLoader::noteBadAddressRecord() {
  if (report_.badAddressRecords++ > 0) return;
  report_.firstBadAddressRecordLine = lineNumber_;
  report_.firstBadAddressRecordBytes = recordByteCount_;
}

// A record's wrong checksum is noted once the record has been read: one whose fields are no
// numbers stops the load with that message alone.
void TextLoader::Read_Intel_Record() {
  const bool good = checksumGood(rest_, true);
  recordByteCount_ = hexField(2);
  loadAddress_ = hexField(4);
  const std::uint32_t type = hexField(2);
  switch (type) {
    case 0x00:
      Store_Record_Data();
      break;
    case 0x01:
      endFlag_ = true;
      break;
    case 0x02:
    case 0x04:
      // Of another length, the base would be read from the checksum or the next record's place.
      if (recordByteCount_ != 2) {
        noteBadAddressRecord();
      } else if (type == 0x02) {
        segmentBase_ = static_cast<std::int64_t>(hexField(4)) * 16;
      } else {
        linearBase_ = static_cast<std::int64_t>(hexField(4)) * 65536;
      }
      break;
    default:
      break;
  }
  if (!good) noteBadChecksum();
}

void TextLoader::Read_S_Record() {
  const bool good = checksumGood(rest_, false);
  const std::int64_t count = hexField(2);
  const std::size_t addressDigits = 2 + 2 * sRecordType_;  // 4, 6 or 8
  recordByteCount_ = count - static_cast<std::int64_t>(addressDigits / 2) - 1;
  loadAddress_ = hexField(addressDigits);
  Store_Record_Data();
  if (!good) noteBadChecksum();
}

// S5 and S6 count the data records before them: a count that does not add up means records are
// missing (or were added). One that cannot be read counts as a wrong checksum.
void TextLoader::Read_Count_Record() {
  const std::size_t digits = sRecordType_ == 5 ? 4 : 6;
  const std::string_view count = rest_.size() > 2 ? rest_.substr(2, digits) : std::string_view();
  if (!checksumGood(rest_, false) || count.size() < digits ||
      !std::all_of(count.begin(), count.end(), [](char c) { return digitValue(c) >= 0; })) {
    noteBadChecksum();
    return;
  }
  std::int64_t said = 0;
  for (char c : count) said = said * 16 + digitValue(c);
  ++countRecords_;
  if (said != sDataRecords_ && report_.countMismatchLine == 0) {
    report_.countMismatchLine = lineNumber_;
    report_.countSaid = said;
    report_.countFound = sDataRecords_;
  }
}

void TextLoader::Store_Record_Data() {
  // Device sizes are powers of two: this folds every record into the device range.
  const std::int64_t unfolded = loadAddress_ + segmentBase_ + linearBase_;
  loadAddress_ = unfolded & image_.deviceEndAddress;
  const bool folded = loadAddress_ != unfolded;
  // Told once: an image linked above the device's range folds as it should, and it is still
  // worth knowing where it went. Before a device is chosen there is no range to fold onto.
  if (folded && image_.deviceEndAddress > 0 && report_.firstFoldedAddress < 0) {
    report_.firstFoldedAddress = unfolded;
    report_.firstFoldedTo = loadAddress_;
    report_.deviceEndAddress = image_.deviceEndAddress;
  }
  for (std::int64_t i = 0; i < recordByteCount_; ++i) {
    storeByte(loadAddress_ + i, dataByte(), folded);
  }
}

void TextLoader::Read_Ascii_Hex_Line() {
  lineFormat_ = FileFormat::AsciiHex;
  rest_ = line_;
  if (line_.size() >= 2) countLine(false, false, true);
  for (std::size_t pairs = line_.size() / 2; pairs > 0; --pairs) {
    storeByte(loadAddress_, dataByte());
    ++loadAddress_;
  }
}

void TextLoader::storeByte(std::int64_t address, std::uint8_t value, bool folded) {
  if (!ImageBuffer::contains(address)) {
    ++report_.bytesOutsideBuffer;
    return;
  }
  // Before a device is chosen there is no end to be past.
  if (image_.deviceEndAddress > 0 && address > image_.deviceEndAddress) {
    ++report_.bytesPastDevice;
    report_.deviceEndAddress = image_.deviceEndAddress;
  }
  std::uint8_t& marks = stores_[static_cast<std::size_t>(address)];
  // A file may store an address twice on its own; it is folding's doing when either store
  // came from a folded record, and then the file held more than the device.
  if ((marks & kStored) != 0 && (folded || (marks & kStoredByFold) != 0)) ++report_.bytesFoldedOver;
  if (marks == 0) ++report_.bytesStored;
  if (firstStoringLines_.empty() || firstStoringLines_.back().first != lineFormat_) noteFormat();
  marks |= folded ? kStored | kStoredByFold : kStored;
  report_.extent = std::max(report_.extent, address + 1);
  image_[static_cast<std::int32_t>(address)] = value;
}

}  // namespace tandra
