#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "device/Verdict.h"
#include "image/ImageBuffer.h"
#include "production/LogLine.h"
#include "production/ProductionPlan.h"
#include "production/SerialNumbers.h"

namespace tandra {
class Session;
}

// A file the production panel loaded for the sockets: one socket's own, or the image of a whole
// bus whose lanes a split gives the sockets.
struct PanelImageFile {
  std::string path;
  tandra::ImageBuffer image;
  tandra::ImageStanding standing;
  std::string format;           // "Intel Hex, by content"
  std::int64_t extent = 0;      // the bytes of a split bus's image
  std::int32_t loadedFor = -1;  // the chip's end address it was loaded for
  int lanes = 0;                // the bus it was loaded for (a split's file)
  std::string error;            // why it could not be loaded; "" when it was
};

// How the chips are numbered. With a ledger, its file says the format, width and step, and
// holds the next number.
struct SerialChoice {
  bool on = false;
  std::int32_t address = 0;
  tandra::SerialFormat format = tandra::SerialFormat::LittleEndian;
  int width = 0;  // bytes; 0 for the format's own
  std::uint64_t start = 0;
  std::uint64_t step = 1;
  std::string ledger;
  bool reuseFailed = false;
  bool perBoard = false;
};

// The file the main window's buffer was loaded from, and what that load met.
struct BufferFile {
  std::string name;
  tandra::ImageStanding standing;
};

// What the operator chose in the production panel: each socket's image (the buffer, a file of
// its own, or a lane of a split bus), the serial numbers and the log; and the plan they make.
// The panel's controls write these; nothing here knows a widget.
class ProductionChoices {
 public:
  static constexpr int kSockets = tandra::kSockets;

  // A file of its own for `socket` (1 to 5), loaded at once for chips ending at `chipEnd`. A
  // load that fails is kept with its error, for the socket's row to show.
  void chooseSocketFile(int socket, const std::string& path, std::int32_t chipEnd);
  // Every socket takes the buffer again.
  void clearSocketFiles();
  // The bus the sockets are lanes of: 0 for none, 2 or 4 chips wide; and its image's file.
  void chooseLanes(int lanes, std::int32_t chipEnd);
  void chooseSplitFile(const std::string& path, std::int32_t chipEnd);
  int lanes() const { return lanes_; }
  // Files loaded for chips of another size are loaded again for these.
  void followChipEnd(std::int32_t chipEnd);

  const std::optional<PanelImageFile>& socketFile(int socket) const {
    return socketFiles_.at(static_cast<std::size_t>(socket - 1));
  }
  const std::optional<PanelImageFile>& splitFile() const { return splitFile_; }

  // The plan these choices make on the session's type and sockets, the buffer holding `buffer`.
  // Throws PlanError, LedgerError or SerialError with the operator's words when they cannot
  // make one.
  std::unique_ptr<tandra::ProductionPlan> plan(const tandra::Session& session,
                                               const BufferFile& buffer,
                                               const std::string& runId) const;

  SerialChoice serial;
  std::string logPath;
  tandra::LogFormat logFormat = tandra::LogFormat::JsonLines;

 private:
  std::array<std::optional<PanelImageFile>, kSockets> socketFiles_;
  int lanes_ = 0;
  std::optional<PanelImageFile> splitFile_;
};

// Serial numbers that cannot be given as chosen.
struct SerialError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
