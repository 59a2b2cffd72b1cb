// One input through an image file loader, and every check of what the load did: the fuzz
// programs run it on what the fuzzer makes, the regression test on the files it has kept.
//
// Input layout: the first byte picks the device and the buffer's fill, the rest is the file.
//   low nibble % 9 -> device end address 0, 0x7FF, 0xFFF, ... 0x3FFFF (every device size)
//   bit 6          -> buffer filled with 0xFF before the load (clear: 0x00)
// So a seed file starting with '0'..'8' loads into a zeroed buffer, 'P'..'X' into an 0xFF one.
//
// Beyond what AddressSanitizer and UBSan catch, a load may only ever throw FileError, and must
// leave the device window alone. The text program also takes the file's look and the format
// chosen by it, under the names of each kind: they too may only throw FileError.
#include "LoaderCheck.h"

#include <array>
#include <cstring>
#include <exception>
#include <istream>
#include <streambuf>
#include <vector>

#include "common/FileError.h"
#include "files/FormatGuess.h"
#include "files/Loaders.h"
#include "image/ImageBuffer.h"

namespace tandra::fuzz {

namespace {

using tandra::ImageBuffer;
using tandra::LoadReport;

constexpr std::array<std::int32_t, 9> kDeviceEndAddresses = {
    0, 0x7FF, 0xFFF, 0x1FFF, 0x3FFF, 0x7FFF, 0xFFFF, 0x1FFFF, 0x3FFFF};

// Reads straight from the fuzzer's bytes, so a read past the end of the input is an ASan report
// rather than a quiet read of a copy's spare capacity.
class InputBuffer : public std::streambuf {
 public:
  InputBuffer(const std::uint8_t* data, std::size_t size) {
    // The get area is only read; streambuf just has no const flavour.
    char* begin = const_cast<char*>(reinterpret_cast<const char*>(data));
    setg(begin, begin, begin + size);
  }
};

// The first finding of the input under way; later checks keep it.
thread_local std::string finding;

void check(bool condition, const char* what) {
  if (!condition && finding.empty()) finding = what;
}

ImageBuffer& sharedImage() {
  static ImageBuffer image;  // 256K: allocated once, refilled per input
  return image;
}

// One memcmp against a filled copy: a byte loop here would be instrumented per byte and slow
// every run down a hundredfold.
bool allEqual(const std::uint8_t* bytes, std::size_t count, std::uint8_t value) {
  static const std::vector<std::uint8_t> zeros(ImageBuffer::kSize, 0x00);
  static const std::vector<std::uint8_t> ones(ImageBuffer::kSize, 0xFF);
  const std::vector<std::uint8_t>& filled = value == 0xFF ? ones : zeros;
  return count == 0 || std::memcmp(bytes, filled.data(), count) == 0;
}

void checkBinaryLoad(const ImageBuffer& image, const LoadReport& report, const std::uint8_t* file,
                     std::size_t size, std::uint8_t fill) {
  const auto deviceSize = static_cast<std::size_t>(image.deviceEndAddress) + 1;
  const std::size_t loaded = size < deviceSize ? size : deviceSize;
  check(loaded == 0 || std::memcmp(image.data(), file, loaded) == 0,
        "binary load: buffer differs from the file's first bytes");
  check(allEqual(image.data() + loaded, ImageBuffer::kSize - loaded, fill),
        "binary load: bytes changed past what the file holds for this device");
  check(report.bytesNotLoaded == size - loaded, "binary load: wrong count of bytes not loaded");
  check(report.bytesOutsideBuffer == 0 && report.badChecksums == 0,
        "binary load: text-only report fields set");
}

void checkTextLoad(const ImageBuffer& image, const LoadReport& report, std::size_t size) {
  check(image.currentAddress >= 0, "text load: negative current address");
  // Every stored or dropped byte takes at least one character of the file.
  check(report.bytesOutsideBuffer <= size, "text load: more bytes dropped than the file holds");
  check(report.badChecksums >= 0, "text load: negative bad checksum count");
  check((report.badChecksums > 0) == (report.firstBadChecksumLine > 0),
        "text load: bad checksum count and first bad line disagree");
  check(report.firstBadChecksumLine <= static_cast<long>(size) + 1,
        "text load: first bad checksum line past the last line");
  check((report.badAddressRecords > 0) == (report.firstBadAddressRecordLine > 0),
        "text load: bad address record count and first line disagree");
  check(report.countMismatchLine == 0 || report.countSaid != report.countFound,
        "text load: a count record that adds up is told as one that does not");
  check(report.ctrlZLine <= static_cast<long>(size) + 1, "text load: Ctrl-Z past the last line");
}

// What the window and tandra-cli make of the file before they load it.
void checkLook(const std::uint8_t* file, std::size_t size) {
  constexpr std::size_t kHead = 4096;  // as much as a file's look is taken from
  const std::string_view head(reinterpret_cast<const char*>(file), size < kHead ? size : kHead);
  try {
    const tandra::ContentLook look = tandra::lookOf(head);
    check(!tandra::lookName(look).empty(), "a look without a name");
    for (const char* name : {"-", "rom.bin", "rom.hex", "rom.s19", "rom.txt"}) {
      try {
        const tandra::FormatChoice choice = tandra::chooseInputFormat(look, name, std::nullopt);
        (void)tandra::lookDisagreement(choice);
      } catch (const tandra::FileError& error) {
        check(error.what()[0] != '\0', "FileError without a message");
      }
    }
  } catch (const std::exception& error) {
    check(false, "unexpected exception from the look");
    finding += std::string(": ") + error.what();
  }
}

}  // namespace

std::string checkLoad(Loader loader, const std::uint8_t* data, std::size_t size) {
  finding.clear();
  if (size == 0) return finding;
  const std::uint8_t selector = data[0];
  const std::int32_t deviceEnd =
      kDeviceEndAddresses[(selector & 0x0Fu) % kDeviceEndAddresses.size()];
  const std::uint8_t fill = (selector & 0x40u) != 0 ? 0xFF : 0x00;
  const std::uint8_t* file = data + 1;
  const std::size_t fileSize = size - 1;

  ImageBuffer& image = sharedImage();
  std::memset(image.data(), fill, ImageBuffer::kSize);
  image.deviceStartAddress = 0;
  image.deviceEndAddress = deviceEnd;
  image.currentAddress = 0;

  if (loader == Loader::Text) checkLook(file, fileSize);

  InputBuffer buffer(file, fileSize);
  std::istream in(&buffer);
  LoadReport report;
  bool completed = false;
  try {
    report =
        loader == Loader::Binary ? tandra::loadBinary(image, in) : tandra::loadText(image, in);
    completed = true;
  } catch (const tandra::FileError& error) {
    // A field that is not hexadecimal: the error box, an expected outcome.
    check(error.what()[0] != '\0', "FileError without a message");
  } catch (const std::exception& error) {
    check(false, "unexpected exception");
    finding += std::string(": ") + error.what();
  } catch (...) {
    check(false, "unexpected exception of unknown type");
  }

  check(image.deviceEndAddress == deviceEnd, "load changed the device end address");
  check(image.deviceStartAddress == 0, "load changed the device start address");
  if (completed) {
    if (loader == Loader::Binary) {
      checkBinaryLoad(image, report, file, fileSize, fill);
    } else {
      checkTextLoad(image, report, fileSize);
    }
    (void)report.boxText();
  }
  return finding;
}

}  // namespace tandra::fuzz
