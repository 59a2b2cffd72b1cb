// What a load tells the operator besides the bytes it stored: the notes that make it unclean,
// and the information that loses nothing.
#include "common/HexText.h"
#include "common/InputFile.h"
#include "files/Loaders.h"

namespace tandra {

namespace {

std::string plural(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Adds a line to a text of lines.
void addLine(std::string& text, const std::string& line) {
  if (!text.empty()) text += "\n";
  text += line;
}

std::string onLine(long line) {
  return "on line " + std::to_string(line);
}

// What the load could not store as the file asked.
void addByteNotes(const LoadReport& report, std::string& text) {
  if (report.bytesNotLoaded > 0) {
    addLine(text, "The file is larger than the device: " +
                      std::string(report.notLoadedIsALowerBound ? "at least " : "") +
                      plural(report.bytesNotLoaded, "byte was", "bytes were") + " not loaded.");
  }
  if (report.bytesPastDevice > 0) {
    addLine(text, "The file holds " + plural(report.bytesPastDevice, "byte", "bytes") +
                      " past the device's end (" +
                      hexText(static_cast<std::uint32_t>(report.deviceEndAddress), 5) +
                      "): " + (report.bytesPastDevice == 1 ? "it is" : "they are") +
                      " in the buffer but not programmed.");
  }
  if (report.bytesFoldedOver > 0) {
    addLine(text, "The file's addresses, folded onto the device, stored " +
                      plural(report.bytesFoldedOver, "byte", "bytes") +
                      " over bytes the file itself had stored: it holds more than the device.");
  }
  if (report.bytesOutsideBuffer > 0) {
    addLine(text, plural(report.bytesOutsideBuffer, "byte lay", "bytes lay") +
                      " outside the buffer and " +
                      (report.bytesOutsideBuffer == 1 ? "was" : "were") + " not loaded.");
  }
}

// Records that were wrong, or are not where a whole file of them has them.
void addRecordNotes(const LoadReport& report, std::string& text) {
  if (report.badChecksums > 0) {
    addLine(text,
            plural(static_cast<std::uint64_t>(report.badChecksums), "record has", "records have") +
                " a wrong checksum; the first is " + onLine(report.firstBadChecksumLine) +
                ". The data was loaded as it stands.");
  }
  if (report.badAddressRecords == 1) {
    addLine(text, "The address record (type 02 or 04) " + onLine(report.firstBadAddressRecordLine) +
                      " holds " +
                      plural(static_cast<std::uint64_t>(report.firstBadAddressRecordBytes), "byte",
                             "bytes") +
                      ", not 2: it was not used.");
  } else if (report.badAddressRecords > 1) {
    addLine(text, std::to_string(report.badAddressRecords) +
                      " address records (type 02 or 04) do not hold 2 bytes and were not used; "
                      "the first is " +
                      onLine(report.firstBadAddressRecordLine) + ".");
  }
  if (report.asciiLineAmongRecords > 0) {
    addLine(text, "Line " + std::to_string(report.asciiLineAmongRecords) +
                      " reads as Ascii hex in " +
                      (report.amongIntelRecords ? "an Intel Hex file: a lost ':'?"
                                                : "an S-record file: a lost 'S'?"));
  }
  if (report.otherFormatLine > 0 && report.formatAsked) {
    const std::string other(fileFormatInfo(report.otherFormat).name);
    const std::string asked(fileFormatInfo(*report.formatAsked).name);
    if (report.formatRead != report.formatAsked) {
      addLine(text, "The file is " + other + ", not " + asked + " as asked: it was read as " +
                        other + ".");
    } else {
      addLine(text, "Line " + std::to_string(report.otherFormatLine) + " is " + other + " among " +
                        asked + ": it was read as " + other + ".");
    }
  }
  if (report.countMismatchLine > 0) {
    addLine(
        text,
        "The count record " + onLine(report.countMismatchLine) + " counts " +
            plural(static_cast<std::uint64_t>(report.countSaid), "data record", "data records") +
            ", but " + std::to_string(report.countFound) + " came before it: records are missing.");
  }
}

// Where the text ended, when that was not where the file ends.
void addEndNotes(const LoadReport& report, std::string& text) {
  if (report.ctrlZLine > 0) {
    addLine(text, "A Ctrl-Z " + onLine(report.ctrlZLine) +
                      " ends the text, with more after it that was not read.");
  } else if (report.intelEndMissing) {
    addLine(text, "No end record: the file may be cut short.");
  }
  if (report.endRecordLine > 0) {
    addLine(text, "The end record " + onLine(report.endRecordLine) +
                      " ends the load: the lines after it were not read (two files joined?).");
  }
  if (report.inputCutShort) {
    addLine(text, "The input stopped for " + std::to_string(InputFile::kQuietPipeMs) +
                      " ms after " +
                      (report.cutAfterLine > 0 ? "line " + std::to_string(report.cutAfterLine)
                                               : plural(report.cutAfterBytes, "byte", "bytes")) +
                      "; what came before is loaded.");
  }
}

}  // namespace

std::string LoadReport::notesBeforeError() const {
  std::string text = lookNote;
  addByteNotes(*this, text);
  addRecordNotes(*this, text);
  addEndNotes(*this, text);
  return text;
}

std::string LoadReport::notes() const {
  std::string text = notesBeforeError();
  if (empty()) addLine(text, "The file sets no byte.");
  return text;
}

std::string LoadReport::information() const {
  std::string text;
  if (firstFoldedAddress >= 0) {
    addLine(text, "Records past the device's end (" +
                      hexText(static_cast<std::uint32_t>(deviceEndAddress), 5) +
                      ") were folded onto it: the first, at " +
                      hexText(static_cast<std::uint64_t>(firstFoldedAddress), 5) +
                      ", was stored at " + hexText(static_cast<std::uint64_t>(firstFoldedTo), 5) +
                      ".");
  }
  if (paddingAfterEndLine > 0) {
    addLine(text, "The end record " + onLine(paddingAfterEndLine) +
                      " is followed by padding (NUL or FF bytes), which was passed over.");
  }
  if (sRecordsUnchecked) {
    addLine(text,
            "The file has no end record and no count record: whether it is whole cannot be told.");
  }
  return text;
}

std::string LoadReport::boxText() const {
  std::string text = notes();
  if (const std::string told = information(); !told.empty()) addLine(text, told);
  return text;
}

}  // namespace tandra
