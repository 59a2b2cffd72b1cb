#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "files/FileFormat.h"

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
  std::uint64_t bytesFoldedOver = 0;  // bytes folding stored over the file's own bytes
  int badChecksums = 0;               // records whose checksum did not match
  long firstBadChecksumLine = 0;
  // Buffer addresses the load stored, each counted once (a binary file: the bytes loaded).
  std::uint64_t bytesStored = 0;
  // The same addresses as runs [first, end), lowest first: where the file sets a byte, whatever
  // byte it sets (a serial number may go only where it sets none).
  std::vector<std::pair<std::int64_t, std::int64_t>> storedRanges;
  // An end record (S7/S8/S9, Intel 01) with more records after it, as in two files joined:
  // the line of the end record; 0 when nothing but blank lines followed it.
  long endRecordLine = 0;
  // The first record that lay past the device's end and was folded onto it: its address as
  // the file gives it, and where it was stored; -1 when none was.
  std::int64_t firstFoldedAddress = -1;
  std::int64_t firstFoldedTo = 0;
  // A line read as Ascii hex in a file of Intel or S-records, as a record that lost its start
  // code is: the first such line (0 when none), and whether the records are Intel's.
  long asciiLineAmongRecords = 0;
  bool amongIntelRecords = false;
  // Intel address records (02, 04) whose byte count is not 2: not used, their count, the first
  // one's line and byte count.
  int badAddressRecords = 0;
  long firstBadAddressRecordLine = 0;
  std::int64_t firstBadAddressRecordBytes = 0;
  // Intel records that no end record closed: the file may have been cut short.
  bool intelEndMissing = false;
  // A Ctrl-Z ended the text, with more than padding after it and no end record before it: the
  // Ctrl-Z's line, 0 when none did.
  long ctrlZLine = 0;
  // The first count record (S5, S6) that counts other than the data records before it: its
  // line (0 when none), its count and the records there were.
  long countMismatchLine = 0;
  std::int64_t countSaid = 0;
  std::int64_t countFound = 0;
  // S-records with neither an end record nor a count record: nothing tells whether all came.
  bool sRecordsUnchecked = false;
  // Padding (NUL or FF bytes, blank lines) after the end record, passed over: the end record's
  // line, 0 when there was none.
  long paddingAfterEndLine = 0;
  // The file does not look like the format it was read in (records read as binary).
  std::string lookNote;
  // The format the load read: the one asked, or, when no line of the asked text format stored
  // a byte, the format whose lines did. None for a text load that was asked for none.
  std::optional<FileFormat> formatRead;
  std::optional<FileFormat> formatAsked;
  // The first line of another text format than the one asked that stored bytes (0 when none
  // did), and that format.
  long otherFormatLine = 0;
  FileFormat otherFormat = FileFormat::Binary;

  // How many bytes the load set; a load that set none is not a clean one.
  std::uint64_t bytesSet() const { return bytesStored; }
  bool empty() const { return bytesStored == 0; }
  // What the load could not do as the file asked, one a line ("The file sets no byte.", bytes
  // dropped, wrong checksums...); empty for a clean load.
  std::string notes() const;
  // The same, but for a load that stopped at an error: that it set nothing is no news then.
  std::string notesBeforeError() const;
  // What the load did that the operator should know although nothing was lost (records folded
  // from past the device's end onto it, padding passed over), one a line; empty when there is
  // nothing to tell.
  std::string information() const;
  // The information box text: the notes, then the information.
  std::string boxText() const;
};

// A binary image: up to device end address + 1 bytes from address 0; a shorter file replaces
// only as many bytes as it holds. The file is opened for reading only.
LoadReport Load_Bin_File(ImageBuffer& image, const std::string& path);
LoadReport loadBinary(ImageBuffer& image, std::istream& in);
// The same from a file that is open already: what was looked at (peeked) is loaded too.
LoadReport loadBinary(ImageBuffer& image, InputFile& file);
// The device range's bytes, as a binary save writes them.
std::string deviceRangeBytes(const ImageBuffer& image);

// Intel Hex, Motorola S-records and Ascii hex lines, in any mix. Every data record's start is
// folded into the device range; bytes addressed past the image buffer are dropped and counted.
// Failures (a file that cannot be read, a field that is not hexadecimal) throw FileError; the
// bytes stored before stay in the buffer.
LoadReport Load_Hex_File(ImageBuffer& image, const std::string& path);
LoadReport loadText(ImageBuffer& image, std::istream& in);
LoadReport loadText(ImageBuffer& image, InputFile& file);
// The same, told which text format was asked: lines of another format are still read, and
// noted (the report's formatRead says what was read).
LoadReport loadText(ImageBuffer& image, std::istream& in, FileFormat asked);
LoadReport loadText(ImageBuffer& image, InputFile& file, FileFormat asked);

}  // namespace tandra
