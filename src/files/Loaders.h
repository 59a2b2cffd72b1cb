#pragma once

#include <cstdint>
#include <istream>
#include <string>

namespace tandra {

class ImageBuffer;
class InputFile;

// What a load did besides storing bytes, for the information box that follows it.
struct LoadReport {
  std::uint64_t bytesOutsideBuffer = 0;  // record bytes addressed past the image buffer, dropped
  std::uint64_t bytesNotLoaded = 0;      // bytes of a binary file past the device's range
  bool notLoadedIsALowerBound = false;   // the file had no end in sight: at least that many
  // Bytes of a text file stored past the device's end address (in the buffer, not the device).
  std::uint64_t bytesPastDevice = 0;
  std::int32_t deviceEndAddress = 0;
  // One past the highest address the file stored (a binary file: the bytes loaded).
  std::int64_t extent = 0;
  // A pipe that kept quiet ended the input: after this line (text) or these bytes (binary).
  bool inputCutShort = false;
  long cutAfterLine = 0;
  std::uint64_t cutAfterBytes = 0;
  std::uint64_t bytesFoldedOver = 0;     // bytes folding stored over the file's own bytes
  int badChecksums = 0;                  // records whose checksum did not match
  long firstBadChecksumLine = 0;

  // The information box text; empty when there is nothing to tell.
  std::string notes() const;
};

// A binary image: up to device end address + 1 bytes from address 0; a shorter file replaces
// only as many bytes as it holds. The file is opened for reading only.
LoadReport Load_Bin_File(ImageBuffer& image, const std::string& path);
LoadReport loadBinary(ImageBuffer& image, std::istream& in);
// The same from a file that is open already: what was looked at (peeked) is loaded too.
LoadReport loadBinary(ImageBuffer& image, InputFile& file);

// Intel Hex, Motorola S-records and Ascii hex lines, in any mix. Every data record's start is
// folded into the device range; bytes addressed past the image buffer are dropped and counted.
// Failures (a file that cannot be read, a field that is not hexadecimal) throw FileError; the
// bytes stored before stay in the buffer.
LoadReport Load_Hex_File(ImageBuffer& image, const std::string& path);
LoadReport loadHexText(ImageBuffer& image, std::istream& in);
LoadReport loadHexText(ImageBuffer& image, InputFile& file);

}  // namespace tandra
