// What a text load read: which text format, and the addresses it stored.
#include "files/TextLoader.h"

namespace tandra {

void TextLoader::noteFormat() {
  for (const auto& [format, line] : firstStoringLines_) {
    if (format == lineFormat_) return;
  }
  firstStoringLines_.emplace_back(lineFormat_, lineNumber_);
}

// A file read in another format than the one asked is said, never passed off as the one asked.
// An Ascii hex line among the records asked for is a record that lost its start code, and is
// told as that.
void TextLoader::judgeFormat() {
  report_.formatAsked = asked_;
  if (!asked_) return;
  report_.formatRead = asked_;
  bool askedStored = false;
  for (const auto& [format, line] : firstStoringLines_) askedStored |= format == *asked_;
  for (const auto& [format, line] : firstStoringLines_) {
    if (format == *asked_) continue;
    if (format == FileFormat::AsciiHex && report_.asciiLineAmongRecords > 0) continue;
    if (!askedStored) report_.formatRead = format;
    report_.otherFormatLine = line;
    report_.otherFormat = format;
    return;
  }
}

std::vector<std::pair<std::int64_t, std::int64_t>> TextLoader::storedRanges() const {
  std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
  for (std::size_t address = 0; address < stores_.size(); ++address) {
    if (stores_[address] == 0) continue;
    const auto at = static_cast<std::int64_t>(address);
    if (!ranges.empty() && ranges.back().second == at) {
      ranges.back().second = at + 1;
    } else {
      ranges.emplace_back(at, at + 1);
    }
  }
  return ranges;
}

}  // namespace tandra
