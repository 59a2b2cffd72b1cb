#include "files/Loaders.h"

#include <algorithm>
#include <istream>

#include "common/FileError.h"
#include "common/HexText.h"
#include "common/InputFile.h"
#include "files/TextLoader.h"
#include "image/ImageBuffer.h"

namespace tandra {

namespace {

// A file past the device's end is counted only this far: a device like /dev/zero has no end to
// count to, and a file larger than this is no EPROM image.
constexpr std::uint64_t kCountLimit = 16 << 20;

// Bytes from a stream, for loads that do not come from a file.
class StreamBytes final : public ByteSource {
 public:
  explicit StreamBytes(std::istream& in) : in_(in) {}
  std::size_t read(std::uint8_t* into, std::size_t count) override {
    in_.read(reinterpret_cast<char*>(into), static_cast<std::streamsize>(count));
    if (in_.bad()) throw FileError(ioMessage(100));
    return static_cast<std::size_t>(in_.gcount());
  }

 private:
  std::istream& in_;
};

// Counts the bytes after the device range as they are read, up to the limit.
void countTheRest(ByteSource& source, LoadReport& report) {
  std::uint8_t scrap[65536];
  while (report.bytesNotLoaded < kCountLimit) {
    const std::size_t got = source.read(scrap, sizeof scrap);
    if (got == 0) return;
    report.bytesNotLoaded += got;
  }
  report.notLoadedIsALowerBound = true;
}

LoadReport loadBinaryFrom(ImageBuffer& image, ByteSource& source) {
  LoadReport report;
  const auto wanted = static_cast<std::size_t>(
      std::min<std::int64_t>(std::int64_t{image.deviceEndAddress} + 1, ImageBuffer::kSize));
  const std::size_t loaded = source.read(image.data(), wanted);
  report.extent = static_cast<std::int64_t>(loaded);
  report.bytesStored = loaded;
  if (loaded > 0) report.storedRanges = {{0, static_cast<std::int64_t>(loaded)}};
  if (loaded == wanted) countTheRest(source, report);
  if (source.cutShort()) {
    report.inputCutShort = true;
    report.cutAfterBytes = loaded + report.bytesNotLoaded;
  }
  return report;
}

std::string plural(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

namespace {

// Adds a line to a text of lines.
void addLine(std::string& text, const std::string& line) {
  if (!text.empty()) text += "\n";
  text += line;
}

}  // namespace

std::string LoadReport::notesBeforeError() const {
  std::string text;
  const auto add = [&text](const std::string& line) { addLine(text, line); };
  if (!lookNote.empty()) add(lookNote);
  if (bytesNotLoaded > 0) {
    add("The file is larger than the device: " +
        std::string(notLoadedIsALowerBound ? "at least " : "") +
        plural(bytesNotLoaded, "byte was", "bytes were") + " not loaded.");
  }
  if (bytesPastDevice > 0) {
    add("The file holds " + plural(bytesPastDevice, "byte", "bytes") +
        " past the device's end (" + hexText(static_cast<std::uint32_t>(deviceEndAddress), 5) +
        "): " + (bytesPastDevice == 1 ? "it is" : "they are") +
        " in the buffer but not programmed.");
  }
  if (bytesFoldedOver > 0) {
    add("The file's addresses, folded onto the device, stored " +
        plural(bytesFoldedOver, "byte", "bytes") +
        " over bytes the file itself had stored: it holds more than the device.");
  }
  if (bytesOutsideBuffer > 0) {
    add(plural(bytesOutsideBuffer, "byte lay", "bytes lay") + " outside the buffer and " +
        (bytesOutsideBuffer == 1 ? "was" : "were") + " not loaded.");
  }
  if (badChecksums > 0) {
    add(plural(static_cast<std::uint64_t>(badChecksums), "record has", "records have") +
        " a wrong checksum; the first is on line " + std::to_string(firstBadChecksumLine) +
        ". The data was loaded as it stands.");
  }
  if (endRecordLine > 0) {
    add("The end record on line " + std::to_string(endRecordLine) +
        " ends the load: the lines after it were not read (two files joined?).");
  }
  if (inputCutShort) {
    add("The input stopped for " + std::to_string(InputFile::kQuietPipeMs) + " ms after " +
        (cutAfterLine > 0 ? "line " + std::to_string(cutAfterLine)
                          : plural(cutAfterBytes, "byte", "bytes")) +
        "; what came before is loaded.");
  }
  return text;
}

std::string LoadReport::notes() const {
  std::string text = notesBeforeError();
  if (empty()) addLine(text, "The file sets no byte.");
  return text;
}

std::string LoadReport::information() const {
  if (firstFoldedAddress < 0) return {};
  return "Records past the device's end (" +
         hexText(static_cast<std::uint32_t>(deviceEndAddress), 5) +
         ") were folded onto it: " + "the first, at " +
         hexText(static_cast<std::uint64_t>(firstFoldedAddress), 5) + ", was stored at " +
         hexText(static_cast<std::uint64_t>(firstFoldedTo), 5) + ".";
}

std::string LoadReport::boxText() const {
  std::string text = notes();
  if (const std::string told = information(); !told.empty()) addLine(text, told);
  return text;
}

LoadReport loadBinary(ImageBuffer& image, std::istream& in) {
  StreamBytes source(in);
  return loadBinaryFrom(image, source);
}

LoadReport loadBinary(ImageBuffer& image, InputFile& file) {
  return loadBinaryFrom(image, file);
}

LoadReport Load_Bin_File(ImageBuffer& image, const std::string& path) {
  return aboutFile(path, [&] {
    InputFile file(path);
    return loadBinary(image, file);
  });
}

namespace {

LoadReport loadText(ImageBuffer& image, std::istream& in, const ByteSource* source) {
  LoadReport report;
  TextLoader loader(image, report);
  const auto noteCut = [&] {
    if (source == nullptr || !source->cutShort()) return;
    report.inputCutShort = true;
    report.cutAfterLine = loader.linesRead();
  };
  try {
    loader.load(in);
  } catch (const FileError& error) {
    // What the load had noted goes with the error: the bytes before it stay in the buffer.
    noteCut();
    throw FileError(error.what(), error.line(), report.notesBeforeError());
  }
  // A pipe that keeps quiet once the end record has come has ended as it should: only quiet
  // before it cut the file short.
  noteCut();
  loader.lookPastEnd(in);
  report.storedRanges = loader.storedRanges();
  return report;
}

}  // namespace

LoadReport loadHexText(ImageBuffer& image, std::istream& in) {
  return loadText(image, in, nullptr);
}

LoadReport loadHexText(ImageBuffer& image, InputFile& file) {
  InputFileBuffer buffer(file);
  std::istream in(&buffer);
  return loadText(image, in, &file);
}

LoadReport Load_Hex_File(ImageBuffer& image, const std::string& path) {
  return aboutFile(path, [&] {
    InputFile file(path);
    return loadHexText(image, file);
  });
}

}  // namespace tandra
