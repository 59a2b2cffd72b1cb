#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tandra {

class ImageBuffer;

// The three text writers. Each advances the write address from 0 to past the device end
// address, building one record per line.
class TextSaver {
 public:
  explicit TextSaver(const ImageBuffer& image) : image_(image) {}

  void Write_Intel_Hex();
  void Write_Motorola_Hex();
  void Write_Ascii_Hex();

  const std::string& text() const { return text_; }

 private:
  void Write_Segment_Record();
  void Put_Hex_Byte();
  void writeLine(const std::string& line);
  void writeRecord(std::string_view start, std::uint32_t count, std::uint8_t checksum);
  // Room for the whole text at once: about `bytesPerByte` characters for every image byte.
  void reserve(std::size_t bytesPerByte);
  bool pastDeviceEnd() const;

  const ImageBuffer& image_;
  std::uint32_t writeAddress_ = 0;
  std::string outputLine_;
  std::uint8_t recordSum_ = 0;
  std::string text_;
};

}  // namespace tandra
