#pragma once

#include <string>
#include <vector>

#include "device/Verdict.h"

namespace tandra {

class ImageBuffer;

// The production log's forms: JSON, one object a line, or CSV for spreadsheets and databases
// that read it; the same fields in both.
enum class LogFormat { JsonLines, Csv };

// What every line of one run carries.
struct LogFacts {
  std::string runId;
  std::string host;
  std::string programmer;  // the programmer's serial number, as its USB chip gives it
  std::string device;      // the device type
};

// One chip's line: the run and set, the socket, the programmer and device, the image's name,
// size, checksum, SHA-256 and CRC-32, the serial number (as text: 64-bit numbers do not survive
// every JSON reader), each operation's result, whether the chip was verified, the verdict and
// the time. `image`: the chip's image over the device's range; `imageName` what the line calls
// it (empty for a job that has none, a Blank Check). A CSV line has the cells of `columns`
// (csvColumns() when empty), as the log's header names them.
std::string logLine(LogFormat format, const LogFacts& facts, int set, const ChipVerdict& chip,
                    const std::vector<OperationResult>& operations, const ImageBuffer* image,
                    const std::string& imageName, const std::string& time,
                    const std::vector<std::string>& columns = {});
// The CSV form's columns, as a new log's first line names them.
const std::vector<std::string>& csvColumns();
std::string csvHeader();

}  // namespace tandra
