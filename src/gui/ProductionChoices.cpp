#include "gui/ProductionChoices.h"

#include <algorithm>
#include <stdexcept>

#include "common/FileError.h"
#include "device/Session.h"
#include "files/FileFormat.h"
#include "files/FormatGuess.h"
#include "image/BusWindow.h"
#include "image/Checksum.h"
#include "production/ProductionImages.h"
#include "production/SerialLedger.h"
#include "production/SessionFacts.h"

namespace {

// A file read as tandra-cli reads the one it is given: by its content, then its name; what
// the file does not set is 0xFF, as an erased chip has it. A bus of `lanes` chips takes the
// file of the whole bus.
PanelImageFile loadFile(const std::string& path, std::int32_t chipEnd, int lanes) {
  PanelImageFile file;
  file.path = path;
  file.loadedFor = chipEnd;
  file.lanes = lanes;
  file.image.deviceEndAddress = chipEnd;
  tandra::fillBuffer(file.image, 0xFF);
  try {
    tandra::FormatChoice choice;
    tandra::LoadReport report;
    {
      const tandra::BusWindow bus(file.image, lanes);
      if (!bus.fits()) {
        file.error = "the image of " + std::to_string(lanes) +
                     " chips side by side is larger than the 256 KiB buffer";
        return file;
      }
      report = tandra::loadImageFile(file.image, path, std::nullopt, &choice);
      file.extent = std::clamp<std::int64_t>(report.extent, 0, bus.size());
    }
    file.standing.bytesSet = static_cast<std::int64_t>(report.bytesSet());
    file.standing.notes = report.notes();
    file.standing.stored = report.storedRanges;
    file.format = std::string(tandra::fileFormatInfo(choice.format).listItem) + ", " + choice.how;
  } catch (const tandra::FileError& error) {
    file.error = tandra::boxText(error.what());
  }
  return file;
}

}  // namespace

void ProductionChoices::chooseSocketFile(int socket, const std::string& path,
                                         std::int32_t chipEnd) {
  socketFiles_.at(static_cast<std::size_t>(socket - 1)) = loadFile(path, chipEnd, 0);
}

void ProductionChoices::clearSocketFiles() {
  for (std::optional<PanelImageFile>& file : socketFiles_) file.reset();
}

void ProductionChoices::chooseLanes(int lanes, std::int32_t chipEnd) {
  lanes_ = lanes == 2 || lanes == 4 ? lanes : 0;
  if (splitFile_ && lanes_ > 0 && splitFile_->lanes != lanes_) {
    splitFile_ = loadFile(splitFile_->path, chipEnd, lanes_);
  }
}

void ProductionChoices::chooseSplitFile(const std::string& path, std::int32_t chipEnd) {
  splitFile_ = loadFile(path, chipEnd, std::max(lanes_, 2));
}

void ProductionChoices::followChipEnd(std::int32_t chipEnd) {
  for (std::optional<PanelImageFile>& file : socketFiles_) {
    if (file && file->loadedFor != chipEnd) file = loadFile(file->path, chipEnd, 0);
  }
  if (splitFile_ && splitFile_->loadedFor != chipEnd) {
    splitFile_ = loadFile(splitFile_->path, chipEnd, splitFile_->lanes);
  }
}

std::unique_ptr<tandra::ProductionPlan> ProductionChoices::plan(const tandra::Session& session,
                                                                const BufferFile& buffer,
                                                                const std::string& runId) const {
  using tandra::PlanError;
  const tandra::SessionFacts facts = tandra::factsOf(session);
  auto plan = std::make_unique<tandra::ProductionPlan>();
  if (!buffer.name.empty()) plan->shareBuffer(buffer.name, buffer.standing);
  if (lanes_ > 0) {
    if (!splitFile_) throw PlanError("a split takes its lanes from a file: choose the file");
    if (!splitFile_->error.empty()) throw PlanError(splitFile_->path + ": " + splitFile_->error);
    plan->splitImage(splitFile_->image, splitFile_->extent, lanes_, facts.socketCount,
                     splitFile_->path, splitFile_->standing);
  } else {
    // A socket left out keeps its file for when it is put back; only the sockets in use get theirs.
    for (int socket = 1; socket <= kSockets; ++socket) {
      const std::optional<PanelImageFile>& file = socketFile(socket);
      if (!file || !facts.socketInUse(socket)) continue;
      if (!file->error.empty()) {
        throw PlanError("socket " + std::to_string(socket) + ": " + file->path + ": " +
                        file->error);
      }
      plan->giveImage(socket, file->image.copy(), file->path, file->standing);
    }
  }
  if (!serial.on) return plan;

  tandra::SerialStamp stamp;
  stamp.address = serial.address;
  stamp.perBoard = serial.perBoard;
  std::unique_ptr<tandra::SerialSource> numbers;
  if (!serial.ledger.empty()) {
    // The ledger says how its numbers are written.
    const tandra::LedgerState ledger = tandra::SerialLedger::read(serial.ledger);
    stamp.format = ledger.format;
    stamp.width = ledger.width;
    numbers =
        std::make_unique<tandra::SerialLedger>(serial.ledger, runId, serial.reuseFailed, logPath);
  } else {
    if (serial.step == 0) throw SerialError("a step of 0 would give every chip the same number");
    if (serial.width < 0 || serial.width > 20) {
      throw SerialError("a serial number takes 1 to 20 bytes, not " + std::to_string(serial.width));
    }
    stamp.format = serial.format;
    stamp.width = serial.width;
    numbers =
        std::make_unique<tandra::SerialNumbers>(serial.start, serial.step, serial.reuseFailed);
  }
  plan->numberChips(std::move(numbers), stamp, 0xFF);
  // A stamp that cannot fit is said now, in the words a set that falls short would use.
  const tandra::ProductionPlanFacts planFacts = plan->facts(session);
  if (std::int64_t{stamp.address} + stamp.bytes() - 1 > planFacts.deviceEndAddress) {
    const tandra::SetShortfall pastEnd{tandra::SetShortfall::Kind::StampPastEnd, 1, 0,
                                       stamp.address};
    throw SerialError(pastEnd.describe(planFacts));
  }
  return plan;
}
