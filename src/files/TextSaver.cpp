#include "files/TextSaver.h"

#include <algorithm>

#include "common/HexText.h"
#include "image/ImageBuffer.h"

namespace tandra {

void TextSaver::writeLine(const std::string& line) {
  text_ += line;
  text_ += "\r\n";
}

// A record line straight into the text: its start, the data built in the output line, its
// checksum.
void TextSaver::writeRecord(std::string_view start, std::uint32_t count, std::uint8_t checksum) {
  text_ += start;
  appendHex(text_, count, 2);
  text_ += outputLine_;
  appendHex(text_, checksum, 2);
  text_ += "\r\n";
}

void TextSaver::reserve(std::size_t bytesPerByte) {
  const auto bytes = static_cast<std::size_t>(std::max(image_.deviceEndAddress, 0)) + 1;
  text_.reserve(bytes * bytesPerByte + bytes / 4 + 64);
}

bool TextSaver::pastDeviceEnd() const {
  return static_cast<std::int64_t>(writeAddress_) > image_.deviceEndAddress;
}

void TextSaver::Put_Hex_Byte() {
  const std::int64_t address = writeAddress_;
  const std::uint8_t value =
      ImageBuffer::contains(address) ? image_[static_cast<std::int32_t>(address)] : 0xFF;
  recordSum_ = static_cast<std::uint8_t>(recordSum_ + value);
  appendHex(outputLine_, value, 2);
  ++writeAddress_;
}

void TextSaver::Write_Segment_Record() {
  const std::uint32_t segment = (writeAddress_ / 65536) * 4096;
  const auto checksum = static_cast<std::uint8_t>(
      (256 - ((0x02 + 0x02 + (segment >> 8) + (segment & 0xFF)) % 256)) % 256);
  std::string line = ":02000002";
  appendHex(line, segment, 4);
  appendHex(line, checksum, 2);
  writeLine(line);
}

void TextSaver::Write_Intel_Hex() {
  reserve(3);  // 32 digits and 11 more characters for every 16 bytes
  Write_Segment_Record();
  do {
    const std::uint32_t offset = writeAddress_ % 65536;
    outputLine_.clear();
    appendHex(outputLine_, offset, 4);
    outputLine_ += "00";
    recordSum_ = static_cast<std::uint8_t>((offset >> 8) + (offset & 0xFF));
    // Every record carries 16 bytes, unless a 64 KiB boundary ends it.
    std::uint32_t n = 0;
    do {
      Put_Hex_Byte();
      ++n;
    } while (n < 16 && writeAddress_ % 65536 != 0);
    const auto checksum = static_cast<std::uint8_t>((256 - ((n + recordSum_) % 256)) % 256);
    writeRecord(":", n, checksum);
    if (writeAddress_ % 65536 == 0) Write_Segment_Record();
  } while (!pastDeviceEnd());
  writeLine(":00000001FF");
}

void TextSaver::Write_Motorola_Hex() {
  reserve(3);
  do {
    outputLine_.clear();
    appendHex(outputLine_, writeAddress_, 6);
    recordSum_ = static_cast<std::uint8_t>((writeAddress_ >> 16) + ((writeAddress_ >> 8) & 0xFF) +
                                           (writeAddress_ & 0xFF));
    std::uint32_t n = 0;
    do {
      Put_Hex_Byte();
      ++n;
    } while (n < 16 && !pastDeviceEnd());
    const std::uint32_t count = n + 4;
    const auto checksum = static_cast<std::uint8_t>(0xFF - ((count + recordSum_) % 256));
    writeRecord("S2", count, checksum);
  } while (!pastDeviceEnd());
  writeLine("S804000000FB");
}

void TextSaver::Write_Ascii_Hex() {
  reserve(3);
  do {
    outputLine_.clear();
    do {
      Put_Hex_Byte();
    } while (writeAddress_ % 16 != 0 && !pastDeviceEnd());
    writeLine(outputLine_);
  } while (!pastDeviceEnd());
}

}  // namespace tandra
