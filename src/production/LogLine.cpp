#include "production/LogLine.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "image/Checksum.h"
#include "image/ImageBuffer.h"
#include "production/Digest.h"
#include "production/RunRecords.h"

namespace tandra {

namespace {

// What the log's lines look like; a reader can tell a later shape by it.
constexpr int kLogSchema = 1;

// The image's fields are each a column of their own; a log begun with fewer keeps to those.
const std::vector<std::string> kColumns = {
    "schema",         "run_id",       "time",        "host",          "set",
    "socket",         "programmer",   "device",      "image",         "image_size",
    "image_checksum", "image_sha256", "image_crc32", "serial_number", "result",
    "text",           "address",      "expected",    "actual",        "operations",
    "verified"};

// The chip's result in each operation that had it: "Program Device: passed".
std::vector<std::pair<std::string, std::string>> operationResults(
    const std::vector<OperationResult>& operations, int socket) {
  std::vector<std::pair<std::string, std::string>> results;
  for (const OperationResult& operation : operations) {
    const auto found = std::find_if(operation.sockets.begin(), operation.sockets.end(),
                                    [socket](const SocketResult& s) { return s.socket == socket; });
    if (found == operation.sockets.end()) continue;
    results.emplace_back(operation.operation, stateWord(found->state));
  }
  return results;
}

// Verify ran to its end, every reply in step, and found the chip good.
bool verified(const std::vector<OperationResult>& operations, int socket) {
  return std::any_of(operations.begin(), operations.end(), [socket](const OperationResult& o) {
    if (o.kind != Operation::Verify || o.stopped || !o.repliesInStep) return false;
    return std::any_of(o.sockets.begin(), o.sockets.end(), [socket](const SocketResult& s) {
      return s.socket == socket && s.state == SocketResult::State::Passed;
    });
  });
}

std::string csvCell(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string csvValue(const nlohmann::json& value) {
  if (value.is_null()) return "";
  if (value.is_string()) return csvCell(value.get<std::string>());
  return value.dump();
}

}  // namespace

const std::vector<std::string>& csvColumns() {
  return kColumns;
}

std::string csvHeader() {
  std::string line;
  for (const std::string& column : kColumns) line += (line.empty() ? "" : ",") + column;
  return line;
}

std::string logLine(LogFormat format, const LogFacts& facts, int set, const ChipVerdict& chip,
                    const std::vector<OperationResult>& operations, const ImageBuffer* image,
                    const std::string& imageName, const std::string& time,
                    const std::vector<std::string>& columns) {
  const SocketResult& result = chip.result;
  nlohmann::json line = socketJson(result);
  nlohmann::json imageRecord = nullptr;
  if (image != nullptr) {
    const std::string_view bytes(reinterpret_cast<const char*>(image->data()),
                                 static_cast<std::size_t>(image->deviceEndAddress) + 1);
    imageRecord = imageJson(imageName, bytes, bufferChecksum(*image));
    imageRecord["name"] = imageName;
    imageRecord.erase("source");
  }
  nlohmann::json results = nlohmann::json::array();
  std::string resultsText;
  for (const auto& [name, state] : operationResults(operations, result.socket)) {
    results.push_back({{"name", name}, {"result", state}});
    resultsText += (resultsText.empty() ? "" : "; ") + name + ": " + state;
  }
  line["schema"] = kLogSchema;
  line["run_id"] = facts.runId;
  line["time"] = time;
  line["host"] = facts.host;
  line["set"] = set;
  line["programmer"] =
      facts.programmer.empty() ? nlohmann::json(nullptr) : nlohmann::json(facts.programmer);
  line["device"] = facts.device;
  line["image"] = imageRecord;
  line["operations"] = results;
  line["verified"] = verified(operations, result.socket);
  if (format == LogFormat::JsonLines) {
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  std::string csv;
  for (const std::string& name : columns.empty() ? kColumns : columns) {
    std::string cell;
    if (name == "image") {
      cell = image != nullptr ? csvCell(imageName) : "";
    } else if (name.starts_with("image_")) {
      cell = image != nullptr ? csvValue(imageRecord[name.substr(6)]) : "";
    } else if (name == "operations") {
      cell = csvCell(resultsText);
    } else {
      cell = csvValue(line[name]);
    }
    csv += (csv.empty() ? "" : ",") + cell;
  }
  return csv;
}

}  // namespace tandra
