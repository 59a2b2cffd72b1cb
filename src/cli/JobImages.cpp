// What a job does with image files: reading one for the chips or for checksum and convert,
// saying what the load met, and writing one.
#include "cli/Job.h"

#include <algorithm>
#include <filesystem>

#include "cli/DeviceNames.h"
#include "cli/ImageFiles.h"
#include "cli/Record.h"
#include "common/FileError.h"
#include "common/HexText.h"
#include "common/InputFile.h"
#include "common/RunId.h"
#include "common/ShownName.h"
#include "common/TimeText.h"
#include "common/Version.h"
#include "image/BusWindow.h"
#include "image/Checksum.h"
#include "link/Clock.h"
#include "link/HardwareBackend.h"
#include "link/ReplayApi.h"
#include "link/Trace.h"
#include "link/TracingApi.h"
#include "production/ProductionLog.h"
#include "production/ProductionPlan.h"
#include "sim/VirtualProgrammer.h"

namespace tandra::cli {

std::optional<FileFormat> Job::askedFormat(const std::string& word, const char* option) {
  bool valid = true;
  const std::optional<FileFormat> format = parseFormat(word, &valid);
  if (!valid) {
    throw JobError(exitcode::kUsage, std::string(option) + " takes " + formatWords() +
                                         " or auto, not '" + word + "'");
  }
  return format;
}

LoadReport Job::loadInput(const std::string& path) {
  InputFile file = openInput(path, io_.inputDescriptor);
  const FormatChoice format = inputFormat(file, path, askedFormat(options_.format, "--format"));
  console_.note("reading " + shownName(path) + " as " + std::string(formatWord(format.format)) +
                " (" + format.how + ")");
  std::error_code ignored;
  const std::string absolute =
      isStandardStream(path) ? path : std::filesystem::absolute(path, ignored).string();
  document_["input"] = {
      {"format", formatWord(format.format)}, {"format_chosen", format.how}, {"notes", nullptr}};
  record::putPath(document_["input"], absolute);
  // What the file does not set is the fill byte: an erased cell's 0xFF for the chips.
  session_->fillImage(fillByte());
  document_["fill"] = hexByte(fillByte());
  if (kind_.forChips) {
    console_.note("bytes the file does not set are 0x" + hexByte(fillByte()));
  }
  std::int64_t busSize = 0;
  {
    const BusWindow bus(session_->image(), options_.split);
    if (!bus.fits()) {
      throw JobError(exitcode::kUsage, "the image of " + std::to_string(options_.split) + " " +
                                           options_.device + " is larger than the 256 KiB buffer");
    }
    busSize = bus.size();
  }
  const LoadReport report = loadImage(*session_, file, path, format, options_.split);
  // What the load read is what the record names: a file of another format than the one asked is
  // named by its own, and its load is noted.
  if (report.formatRead) document_["input"]["format"] = formatWord(*report.formatRead);
  // The bytes of the image the chips take: a split bus's image is the file, as far as it
  // reaches into the lanes.
  const std::int64_t loaded =
      options_.split > 0 ? std::clamp<std::int64_t>(report.extent, 0, busSize) : busSize;
  splitExtent_ = report.extent;
  document_["input"]["notes"] = report.notes();
  // What the load met is said whatever --quiet asks: it is about the data that goes to the chips.
  if (!report.notes().empty() && !options_.json) console_.warn(report.notes());
  if (!report.information().empty()) console_.note(report.information());
  recordImage("file", loaded);
  return report;
}

ImageStanding Job::standingOf(const LoadReport& loaded) const {
  ImageStanding standing;
  standing.bytesSet = static_cast<std::int64_t>(loaded.bytesSet());
  standing.notes = loaded.notes();
  standing.notesAccepted = options_.force;
  standing.stored = loaded.storedRanges;
  return standing;
}

void Job::refuseUncleanLoad(const LoadReport& loaded, const char* work) const {
  // For the chips, the rule that says whether a chip may pass says whether the image may be used
  // at all: an image that sets no byte never can, --force or not.
  const bool forChips = kind_.file == JobFile::ToChips;
  const std::optional<std::string> shortfall =
      forChips ? imageShortfall(standingOf(loaded))
               : (loaded.notes().empty() || options_.force ? std::nullopt
                                                           : std::optional(loaded.notes()));
  if (!shortfall) return;
  if (options_.force) {
    throw JobError(exitcode::kUsage, std::string("the file is not ") + work + ": " + *shortfall);
  }
  throw JobError(exitcode::kUsage, std::string("the file did not load cleanly, so it is not ") +
                                       work + " (--force goes on all the same): " + loaded.notes());
}

void Job::recordImage(const char* source, std::int64_t size) {
  const ImageBuffer& image = session_->image();
  const std::string_view bytes(reinterpret_cast<const char*>(image.data()),
                               static_cast<std::size_t>(size));
  // The image's own figures cover the same bytes: with --split, the whole bus image.
  document_["image"] =
      record::image(source, bytes, byteSum(image.data(), static_cast<std::size_t>(size)));
  document_["checksum"] = hexText(session_->checksum(), 4);
}

void Job::sayNotesSince(std::size_t line) {
  // What the driver and the programmer's search met, but not the line that names the driver
  // (the closing report does).
  for (; line < host_.logged.size(); ++line) {
    if (!host_.logged[line].starts_with("USB driver: ")) console_.note(host_.logged[line]);
  }
}

void Job::saveOutput(const std::string& path, const std::string& formatWordAsked,
                     const char* option) {
  const FormatChoice format = outputFormat(path, askedFormat(formatWordAsked, option));
  console_.note("writing " + shownName(path) + " as " + std::string(formatWord(format.format)) +
                " (" + format.how + ")");
  saveImage(*session_, path, format.format, io_.outputDescriptor);
  document_["output"] = {{"format", formatWord(format.format)}};
  record::putPath(document_["output"], path);
}

int Job::checksum() {
  const Chip& type = deviceType();
  openDriver(nullptr);
  chooseDevice(type);
  refuseUncleanLoad(loadInput(options_.input), "checksummed");
  say("CheckSum=" + hexText(session_->checksum(), 4));
  return exitcode::kPassed;
}

int Job::convert() {
  const Chip& type = deviceType();
  openDriver(nullptr);
  chooseDevice(type);
  refuseUncleanLoad(loadInput(options_.input), "converted");
  saveOutput(options_.output, options_.outFormat, "--out-format");
  return exitcode::kPassed;
}

}  // namespace tandra::cli
