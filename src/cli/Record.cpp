#include "cli/Record.h"
#include "common/Words.h"

#include <cctype>

#include "common/HexText.h"
#include "common/RunId.h"
#include "common/ShownName.h"
#include "common/Version.h"
#include "production/RunRecords.h"

namespace tandra::cli::record {

nlohmann::json blank(const CliOptions& options, std::chrono::system_clock::time_point started) {
  nlohmann::json record = nlohmann::json::object();
  record["schema"] = kSchemaVersion;
  record["tool"] = "tandra-cli";
  record["version"] = kVersion;
  record["command"] =
      options.command.empty() ? nlohmann::json(nullptr) : nlohmann::json(options.command);
  record["arguments"] = options.arguments;
  record["started"] = isoTime(started);
  record["host"] = hostName();
  record["run_id"] = runId();
  for (const char* key :
       {"device", "sockets",    "pulse_width", "vpp",         "input",   "image",
        "output", "programmer", "checksum",    "programmers", "devices", "stopped_by",
        "trace",  "replay",     "fill",        "skipped",     "sets",    "chips",
        "log",    "statistics", "ledger",      "error"}) {
    record[key] = nullptr;
  }
  record["operations"] = nlohmann::json::array();
  record["elapsed_ms"] = 0;
  record["exit_code"] = 0;
  return record;
}

nlohmann::json socket(const SocketResult& result) {
  return socketJson(result);
}

nlohmann::json operation(const OperationResult& result, int set) {
  nlohmann::json sockets = nlohmann::json::array();
  for (const SocketResult& each : result.sockets) sockets.push_back(socket(each));
  return {{"name", result.operation},  {"set", set},
          {"stopped", result.stopped}, {"elapsed_ms", result.elapsedMs},
          {"reached", result.reached}, {"sockets", sockets}};
}

nlohmann::json image(std::string_view source, std::string_view bytes, std::uint16_t checksum) {
  return imageJson(source, bytes, checksum);
}

void putPath(nlohmann::json& object, const std::string& path) {
  object["path"] = path;
  if (isUtf8(path)) {
    object["path_bytes"] = nullptr;
    return;
  }
  std::string bytes;
  for (char c : path) bytes += hexByte(static_cast<std::uint8_t>(c));
  object["path_bytes"] = asciiLower(bytes);
}

nlohmann::json ledger(const std::string& path, const LedgerState& state) {
  static constexpr const char* kFormatWords[] = {"le", "be", "bcd", "ascii"};
  std::size_t reserved = 0;
  for (const LedgerState::Reservation& r : state.reservations) reserved += r.numbers.size();
  nlohmann::json returned = nlohmann::json::array();
  for (const std::uint64_t number : state.returned) returned.push_back(std::to_string(number));
  return {
      {"path", path},
      {"next", state.runOut ? nlohmann::json(nullptr) : nlohmann::json(std::to_string(state.next))},
      {"step", state.step},
      {"format", kFormatWords[static_cast<int>(state.format)]},
      {"width", state.width},
      {"returned", returned},
      {"reserved", reserved},
      {"without_pass", nullptr}};
}

std::string text(const nlohmann::json& record) {
  return record.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace tandra::cli::record
