#include "files/Loaders.h"

#include <algorithm>
#include <istream>

#include "common/FileError.h"
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
  report.formatRead = report.formatAsked = FileFormat::Binary;
  return report;
}

}  // namespace

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

LoadReport loadText(ImageBuffer& image, std::istream& in, const ByteSource* source,
                    std::optional<FileFormat> asked) {
  LoadReport report;
  TextLoader loader(image, report, asked);
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
  // A pipe that keeps quiet once the end record (or a Ctrl-Z) has come has ended as it should:
  // only quiet before it cut the file short.
  noteCut();
  loader.lookPastEnd(in);
  loader.judgeFormat();
  report.storedRanges = loader.storedRanges();
  return report;
}

}  // namespace

LoadReport loadText(ImageBuffer& image, std::istream& in) {
  return loadText(image, in, nullptr, std::nullopt);
}

LoadReport loadText(ImageBuffer& image, InputFile& file) {
  InputFileBuffer buffer(file);
  std::istream in(&buffer);
  return loadText(image, in, &file, std::nullopt);
}

LoadReport loadText(ImageBuffer& image, std::istream& in, FileFormat asked) {
  return loadText(image, in, nullptr, asked);
}

LoadReport loadText(ImageBuffer& image, InputFile& file, FileFormat asked) {
  InputFileBuffer buffer(file);
  std::istream in(&buffer);
  return loadText(image, in, &file, asked);
}

LoadReport Load_Hex_File(ImageBuffer& image, const std::string& path) {
  return aboutFile(path, [&] {
    InputFile file(path);
    return loadText(image, file);
  });
}

}  // namespace tandra
