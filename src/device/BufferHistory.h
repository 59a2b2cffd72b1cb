#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/Verdict.h"

namespace tandra {

struct LoadReport;

// Where the image buffer's bytes came from: the files loaded into it, fills, a chip read into
// it and edits, each lying over what was there before. A file that sets only some of the
// address window leaves the rest as it was, so a chip programmed from the buffer holds both
// files, and a record of the chip names both.
class BufferHistory {
 public:
  // Told by the session as the buffer changes; `windowEnd` is the device end address then.
  void loaded(const std::string& name, const LoadReport& report, std::int32_t windowEnd);
  // A load that stopped at an error keeps what it stored before it.
  void loadStopped(const std::string& name, const std::string& error);
  void filled(std::uint8_t byte, std::int32_t windowEnd);
  // A chip read into the buffer: all of the window, or only part of it when the read stopped.
  void read(int socket, bool whole, std::int32_t windowEnd);
  void edited();

  // What the window up to `windowEnd` holds, newest first: "B.bin over A.bin", "edits over
  // A.bin", "B.bin over a fill of FF". Files by their names as loaded, or by their own names
  // alone with `fileNamesOnly`. Empty when no file set a byte of it: a fill, a chip read or
  // the buffer as the program starts, which no file names.
  std::string name(std::int32_t windowEnd, bool fileNamesOnly = false) const;
  // What the loads that still show met, for the rule a chip passes by.
  ImageStanding standing(std::int32_t windowEnd) const;

 private:
  struct Layer {
    enum class Kind { File, Fill, Read, Edits };
    Kind kind = Kind::File;
    std::string name;  // the file's; what the fill or the read was
    // Every byte from 0 to here was set (-1: only some bytes, which ones is not known).
    std::int32_t coveredEnd = -1;
    ImageStanding standing;
  };
  void add(Layer layer);
  // The layers that show in the window, newest first, down to the first that covers it.
  std::vector<const Layer*> shown(std::int32_t windowEnd) const;

  // Oldest first; the oldest go once there are more than anyone reads.
  std::vector<Layer> layers_;
};

}  // namespace tandra
